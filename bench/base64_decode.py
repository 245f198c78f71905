# Decodes 10 MB of base-64 text (twin of base64_decode.zem).
import base64


def main():
    text = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g" * 317750
    print(len(base64.b64decode(text)))


main()
