# Encodes 10 MB in base 64 (twin of base64_encode.zem).
import base64


def main():
    data = bytes(range(256)) * 40960
    print(len(base64.b64encode(data)))


main()
