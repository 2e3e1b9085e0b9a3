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
from pykcs11_checks import check, failures, state
from PyKCS11 import LowLevel

CKM_DSTU7564_256 = 0x80420023
CKM_DSTU4145_DSTU7564_256 = 0x80420034
CKM_DSTU4145_KEY_PAIR_GEN = 0x80420042
CKM_DSTU4145_DERIVE = 0x80420043
CKM_DSTU4145_DERIVE_EXT = 0x80420044
CKM_GOST28147_KEY_WRAP = 0x80420016
CKM_DSTU7624_KEY_WRAP = 0x80420061
CKK_GOST28147 = 0x80420111
CKK_DSTU7624 = 0x80420112
CKK_DSTU4145 = 0x80420131
CKD_DSTU4145_GOST28147 = 0x80420211
CKD_DSTU4145_DSTU7624 = 0x80420212


class DeriveParams(ctypes.Structure):
    """C_DeriveKey's parameter: the layout of CK_ECDH1_DERIVE_PARAMS at this platform's width."""
    _fields_ = [("kdf", ctypes.c_ulong), ("ulSharedDataLen", ctypes.c_ulong), ("pSharedData", ctypes.c_void_p),
                ("ulPublicDataLen", ctypes.c_ulong), ("pPublicData", ctypes.c_void_p)]



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
            return finish(session)
        check("key pair without templates refused", e.value != PyKCS11.CKR_OK, e)
    try:
        derive_and_wrap(session)
    except PyKCS11.PyKCS11Error as e:
        check("key pair, derivation and wrapping", False, e)
    return finish(session)


def derive_and_wrap(session):
    """An agreement pair on the key, two derivations against its own public key (this
    script has one key: the agreement with itself stands in for a peer's), a secret
    key wrapped under the first derived key and unwrapped under the second."""
    curves = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_DOMAIN_PARAMETERS),
                                  (PyKCS11.CKA_KEY_TYPE, CKK_DSTU4145)])
    check("curve parameter objects", len(curves) == 10, len(curves))
    params = bytes(session.getAttributeValue(curves[0], [PyKCS11.CKA_EC_PARAMS])[0])
    public, private = session.generateKeyPair(
        [(PyKCS11.CKA_TOKEN, True), (PyKCS11.CKA_EC_PARAMS, params), (PyKCS11.CKA_DERIVE, True)],
        [(PyKCS11.CKA_TOKEN, True), (PyKCS11.CKA_PRIVATE, True), (PyKCS11.CKA_DERIVE, True)],
        PyKCS11.Mechanism(CKM_DSTU4145_KEY_PAIR_GEN, None))
    point = bytes(session.getAttributeValue(public, [PyKCS11.CKA_EC_POINT])[0])
    check("DSTU 4145 agreement pair", len(point) > 20, len(point))

    ukm = ctypes.create_string_buffer(bytes(range(1, 9)), 8)
    peer = ctypes.create_string_buffer(point, len(point))
    for mechanism, kdf, key_type, wrap, length in (
            (CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, CKK_GOST28147, CKM_GOST28147_KEY_WRAP, 44),
            (CKM_DSTU4145_DERIVE_EXT, CKD_DSTU4145_DSTU7624, CKK_DSTU7624, CKM_DSTU7624_KEY_WRAP, 96)):
        parameter = DeriveParams(kdf, 8, ctypes.addressof(ukm), len(point), ctypes.addressof(peer))
        derive = PyKCS11.Mechanism(mechanism, bytes(parameter))
        usable = [(PyKCS11.CKA_WRAP, True), (PyKCS11.CKA_UNWRAP, True)]
        first = session.deriveKey(private, usable, derive)
        second = session.deriveKey(private, usable, derive)
        value = bytes(range(100, 132))
        secret = session.createObject([(PyKCS11.CKA_CLASS, PyKCS11.CKO_SECRET_KEY), (PyKCS11.CKA_KEY_TYPE, key_type),
                                       (PyKCS11.CKA_TOKEN, False), (PyKCS11.CKA_PRIVATE, True),
                                       (PyKCS11.CKA_EXTRACTABLE, True), (PyKCS11.CKA_VALUE, value)])
        wrapped = bytes(session.wrapKey(first, secret, PyKCS11.Mechanism(wrap, None)))
        check("key wrapped by mechanism 0x%X" % wrap, len(wrapped) == length, len(wrapped))
        unwrapped = session.unwrapKey(second, wrapped, [(PyKCS11.CKA_EXTRACTABLE, True),
                                                         (PyKCS11.CKA_SENSITIVE, False)],
                                      PyKCS11.Mechanism(wrap, None))
        got = bytes(session.getAttributeValue(unwrapped, [PyKCS11.CKA_VALUE])[0])
        check("key unwrapped by mechanism 0x%X under another derivation" % wrap, got == value, got.hex())
        for handle in (unwrapped, secret, second, first):
            session.destroyObject(handle)
    session.destroyObject(private)
    session.destroyObject(public)


def finish(session):
    session.logout()
    check("logged out", state(session) == PyKCS11.CKS_RW_PUBLIC_SESSION, state(session))
    session.closeSession()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
