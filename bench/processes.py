# 200 waited calls of true and 200 of sh -c 'echo x' with their output collected (twin of
# processes.zem).
import subprocess


def main():
    n = 0
    for _ in range(200):
        n += subprocess.run(["true"]).returncode
    o = ""
    for _ in range(200):
        o += subprocess.run(["sh", "-c", "echo x"], capture_output=True, text=True).stdout
    print(n, len(o))


main()
