#!/usr/bin/env python3
"""Initialises a key's token through the PKCS#11 module with PyKCS11.

A key that was never initialised answers C_GetTokenInfo with
CKR_TOKEN_NOT_RECOGNIZED, which stops clients that ask for the token
information first; C_InitToken straight on the slot brings such a key in.

    pkcs11_init_token.py MODULE SERIAL SO_PIN LABEL

Initialises the key with that serial number and no other: an initialised
key tells its serial in its token information; a blank key's serial is read
from the key itself (its device information, over PC/SC) and matched to its
slot by reader order, the order in which a freshly loaded module numbers the
keys it finds. When the key cannot be found that way, nothing is initialised.
Prints the token's label and flags; exit status 0 on success.
"""
import ctypes
import ctypes.util
import sys

import PyKCS11

READER_PREFIX = b"TVR Q.uor Korvo-7Q"
DEVICE_INFO = 13


class PcscReaders:
    """The serial number of the key in each of the key's readers, in reader order."""

    def __init__(self):
        self.lib = ctypes.CDLL(ctypes.util.find_library("pcsclite") or "libpcsclite.so.1")
        # pcsc-lite's handles are longs and its DWORDs unsigned longs.
        handle, word, pointer = ctypes.c_long, ctypes.c_ulong, ctypes.c_void_p
        self.lib.SCardEstablishContext.argtypes = [word, pointer, pointer, ctypes.POINTER(handle)]
        self.lib.SCardReleaseContext.argtypes = [handle]
        self.lib.SCardListReaders.argtypes = [handle, ctypes.c_char_p, pointer, ctypes.POINTER(word)]
        self.lib.SCardConnect.argtypes = [handle, ctypes.c_char_p, word, word, ctypes.POINTER(handle),
                                          ctypes.POINTER(word)]
        self.lib.SCardTransmit.argtypes = [handle, pointer, ctypes.c_char_p, word, pointer, pointer,
                                           ctypes.POINTER(word)]
        self.lib.SCardDisconnect.argtypes = [handle, word]
        for f in ("SCardEstablishContext", "SCardReleaseContext", "SCardListReaders", "SCardConnect",
                  "SCardTransmit", "SCardDisconnect"):
            getattr(self.lib, f).restype = handle
        self.context = handle(0)
        if self.lib.SCardEstablishContext(2, None, None, ctypes.byref(self.context)) != 0:
            raise OSError("no PC/SC context")

    def close(self):
        self.lib.SCardReleaseContext(self.context)

    def names(self):
        size = ctypes.c_ulong(0)
        if self.lib.SCardListReaders(self.context, None, None, ctypes.byref(size)) != 0:
            return []
        buffer = ctypes.create_string_buffer(size.value)
        if self.lib.SCardListReaders(self.context, None, buffer, ctypes.byref(size)) != 0:
            return []
        return [n for n in buffer.raw[: size.value].split(b"\0") if n.startswith(READER_PREFIX)]

    def serial(self, reader):
        """The serial number the key in the reader reports, or None."""
        card = ctypes.c_long(0)
        protocol = ctypes.c_ulong(0)
        # Shared, T=0 or T=1.
        if self.lib.SCardConnect(self.context, reader, 2, 3, ctypes.byref(card), ctypes.byref(protocol)) != 0:
            return None
        try:
            # An unprotected device-information request in the FF 14 pseudo-APDU:
            # the block without its first byte, in the new form (76 bytes) or the old (64).
            for block in (76, 64):
                apdu = bytearray(block + 5)
                apdu[0:5] = bytes([0xFF, 0x14, 0, 0, block - 1])
                apdu[5] = DEVICE_INFO
                apdu[block + 4] = block + 2
                send_pci = (ctypes.c_ulong * 2)(protocol.value, 16)
                answer = ctypes.create_string_buffer(300)
                length = ctypes.c_ulong(len(answer))
                rv = self.lib.SCardTransmit(card, send_pci, bytes(apdu), len(apdu), None, answer,
                                            ctypes.byref(length))
                data = answer.raw[: length.value]
                # Command, protection mode 0, status 0, then the serial (little-endian).
                if rv == 0 and len(data) >= block - 1 and data[0] == DEVICE_INFO and data[2] == 0:
                    return int.from_bytes(data[3:7], "little")
            return None
        finally:
            self.lib.SCardDisconnect(card, 0)


def blank_key_slot(lib, slots, serial):
    """The slot of the blank key with this serial, when it can be told."""
    readers = PcscReaders()
    try:
        serials = [readers.serial(name) for name in readers.names()]
    finally:
        readers.close()
    # Slot ids are indexes in the order the module first met the keys: reader
    # order when every reader holds a key that answers.
    if None in serials or len(serials) != len(slots) or sorted(slots) != list(range(len(slots))):
        return None
    matches = [s for s in slots if serials[s] == serial]
    return matches[0] if len(matches) == 1 else None


def main():
    module, serial, so_pin, label = sys.argv[1:5]
    if not serial.isdigit():
        print("the serial number is digits:", serial)
        return 1
    lib = PyKCS11.PyKCS11Lib()
    lib.load(module)
    slots = lib.getSlotList(tokenPresent=True)
    slot = None
    blank = False
    for s in slots:
        try:
            told = lib.getTokenInfo(s).serialNumber.strip()
            if told.isdigit() and int(told) == int(serial):
                slot = s
        except PyKCS11.PyKCS11Error as e:
            if e.value != PyKCS11.CKR_TOKEN_NOT_RECOGNIZED:
                raise
            blank = True
    if slot is None and blank:
        slot = blank_key_slot(lib, slots, int(serial))
    if slot is None:
        print("no key with serial number", serial)
        return 1
    # C_InitToken takes the label as a 32-byte UTF-8 field padded with blanks.
    lib.initToken(slot, so_pin, label + " " * (32 - len(label.encode())))
    info = lib.getTokenInfo(slot)
    print("label:", info.label.strip())
    print("flags:", ", ".join(info.flags2text()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
