#!/usr/bin/env python3
"""Initialises a key's token through the PKCS#11 module with PyKCS11.

A key that was never initialised answers C_GetTokenInfo with
CKR_TOKEN_NOT_RECOGNIZED, which stops clients that ask for the token
information first; C_InitToken straight on the slot brings such a key in.

    pkcs11_init_token.py MODULE SERIAL SO_PIN LABEL

Prints the token's label and flags; exit status 0 on success.
"""
import sys

import PyKCS11


def main():
    module, serial, so_pin, label = sys.argv[1:5]
    lib = PyKCS11.PyKCS11Lib()
    lib.load(module)
    slot = None
    for s in lib.getSlotList(tokenPresent=True):
        # The token of a blank key cannot be asked for its serial number; the
        # slot description names the reader, so take the only slot there is
        # when the serial cannot be read.
        try:
            if lib.getTokenInfo(s).serialNumber.strip() == serial:
                slot = s
        except PyKCS11.PyKCS11Error as e:
            if e.value != PyKCS11.CKR_TOKEN_NOT_RECOGNIZED:
                raise
            slot = s if slot is None else slot
    if slot is None:
        print("no slot for key", serial)
        return 1
    # C_InitToken takes the label as a 32-byte UTF-8 field padded with blanks.
    lib.initToken(slot, so_pin, label + " " * (32 - len(label.encode())))
    info = lib.getTokenInfo(slot)
    print("label:", info.label.strip())
    print("flags:", ", ".join(info.flags2text()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
