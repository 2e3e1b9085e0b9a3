#!/usr/bin/env python3
"""The PKCS#11 module through PyKCS11, as a Python application meets it.

    pkcs11_pykcs11_flows.py MODULE SERIAL PIN

The key must hold an initialised token whose user PIN is PIN. Prints one line
per step ("ok ...", "skip ..." for work the module does not offer in this
build, "FAIL ..."); exit status 0 when nothing failed.
"""
import ctypes
import sys

import PyKCS11
from PyKCS11 import LowLevel

CKM_DSTU7564_256 = 0x80420023
CKM_DSTU4145_DSTU7564_256 = 0x80420034
CKM_DSTU4145_KEY_PAIR_GEN = 0x80420042
CKM_DSTU4145_DERIVE = 0x80420043
CKM_DSTU7624_KEY_WRAP = 0x80420061

failures = []


def check(what, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + what + (": " + str(detail) if detail and not condition else ""))
    if not condition:
        failures.append(what)


def state(session):
    """The session's state as its CKS_ number (PyKCS11 gives a number or a name, by version)."""
    value = session.getSessionInfo().state
    return PyKCS11.CKS[value] if isinstance(value, str) else value


def not_offered(error):
    return isinstance(error, PyKCS11.PyKCS11Error) and error.value == PyKCS11.CKR_FUNCTION_NOT_SUPPORTED


def main():
    module, serial, pin = sys.argv[1:4]
    # This platform's CK_ULONG is the C unsigned long: 8 bytes on 64-bit
    # Linux, and PyKCS11's handles and values travel at that width.
    check("CK_ULONG is 8 bytes", ctypes.sizeof(ctypes.c_ulong) == 8 and LowLevel.CK_OBJECT_HANDLE is not None)

    lib = PyKCS11.PyKCS11Lib()
    lib.load(module)
    info = lib.getInfo()
    check("Cryptoki 2.20", (info.cryptokiVersion[0], info.cryptokiVersion[1]) == (2, 20), info.cryptokiVersion)
    check("library manufacturer", info.manufacturerID.strip() == "JSC_TVR", info.manufacturerID)

    slots = [s for s in lib.getSlotList(tokenPresent=True) if lib.getTokenInfo(s).serialNumber.strip() == serial]
    check("one slot holds the key", len(slots) == 1, slots)
    if not slots:
        return 1
    slot = slots[0]
    token = lib.getTokenInfo(slot)
    check("token initialised", "CKF_TOKEN_INITIALIZED" in token.flags2text(), token.flags2text())

    mechanisms = lib.getMechanismList(slot)
    # Vendor mechanisms come back as their numbers' names ("CKM_VENDOR_DEFINED"
    # plus the offset) or as bare numbers, by PyKCS11's version.
    numbers = set()
    for m in mechanisms:
        if isinstance(m, int):
            numbers.add(m)
        elif m in PyKCS11.CKM:
            numbers.add(PyKCS11.CKM[m])
        elif m.startswith("CKM_VENDOR_DEFINED+"):
            numbers.add(PyKCS11.CKM_VENDOR_DEFINED + int(m.split("+")[1], 16))
    for m in (CKM_DSTU7564_256, CKM_DSTU4145_DSTU7564_256, CKM_DSTU4145_KEY_PAIR_GEN, CKM_DSTU4145_DERIVE,
              CKM_DSTU7624_KEY_WRAP):
        check("mechanism 0x%08X listed" % m, m in numbers, sorted(hex(n) for n in numbers))
    # PyKCS11's getMechanismInfo wants a name it knows: the number goes to
    # the low-level call.
    pair = LowLevel.CK_MECHANISM_INFO()
    check("key-pair mechanism information", lib.lib.C_GetMechanismInfo(slot, CKM_DSTU4145_KEY_PAIR_GEN, pair) == 0)
    check("key-pair mechanism 163..509 bits", (pair.ulMinKeySize, pair.ulMaxKeySize) == (163, 509),
          (pair.ulMinKeySize, pair.ulMaxKeySize))

    session = lib.openSession(slot, PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION)
    check("public session", state(session) == PyKCS11.CKS_RW_PUBLIC_SESSION, state(session))
    try:
        session.login("not-the-pin")
        check("wrong PIN refused", False)
    except PyKCS11.PyKCS11Error as e:
        check("wrong PIN refused", e.value == PyKCS11.CKR_PIN_INCORRECT, e)
    session.login(pin)
    check("user session", state(session) == PyKCS11.CKS_RW_USER_FUNCTIONS, state(session))

    first = bytes(session.generateRandom(64))
    second = bytes(session.generateRandom(64))
    check("random numbers", len(first) == 64 and first != second and first != bytes(64))

    # Digest, key pair, signature, derivation and wrapping: the module answers
    # CKR_FUNCTION_NOT_SUPPORTED where this build does not offer them yet.
    try:
        digest = bytes(session.digest(bytes(range(64)), PyKCS11.Mechanism(CKM_DSTU7564_256, None)))
        check("DSTU 7564 digest", digest.hex().upper() ==
              "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875", digest.hex())
    except PyKCS11.PyKCS11Error as e:
        if not not_offered(e):
            raise
        print("skip DSTU 7564 digest: not offered by the module")
    try:
        session.generateKeyPair([], [], PyKCS11.Mechanism(CKM_DSTU4145_KEY_PAIR_GEN, None))
        check("DSTU 4145 key pair", False, "generated without templates")
    except PyKCS11.PyKCS11Error as e:
        if not_offered(e):
            print("skip DSTU 4145 key pair, signature, derivation and wrapping: not offered by the module")
        else:
            check("key pair without templates refused", e.value != PyKCS11.CKR_OK, e)

    session.logout()
    check("logged out", state(session) == PyKCS11.CKS_RW_PUBLIC_SESSION, state(session))
    session.closeSession()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
