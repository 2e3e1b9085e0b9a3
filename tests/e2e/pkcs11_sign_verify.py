#!/usr/bin/env python3
"""A DSTU 4145 key pair made on the key, a signature and its verification,
through the PKCS#11 module with PyKCS11, as a signing application works.

    pkcs11_sign_verify.py MODULE SERIAL PIN [CURVE_BITS]

The key must hold an initialised token whose user PIN is PIN. The pair is
made on the standard curve of CURVE_BITS bits (default 257) with S-box 0:
the parameters are those of the session's domain-parameter object of that
curve. The key holds one signature key pair, so a new pair replaces the old.
Prints one line per step; exit status 0 when every step passed.
"""
import sys

import PyKCS11

CKM_DSTU4145_DSTU7564_256 = 0x80420034  # DSTU 7564-256 hash on the host, signed on the key
CKM_DSTU4145_KEY_PAIR_GEN = 0x80420042
CKK_DSTU4145 = 0x80420131

failures = []


def check(what, condition, detail=""):
    """Prints the step, with its detail (a value worth seeing, or what went wrong)."""
    print(("ok   " if condition else "FAIL ") + what + (": " + str(detail) if detail else ""))
    if not condition:
        failures.append(what)


def main():
    module, serial, pin = sys.argv[1:4]
    bits = int(sys.argv[4]) if len(sys.argv) > 4 else 257
    lib = PyKCS11.PyKCS11Lib()
    lib.load(module)
    slots = [s for s in lib.getSlotList(tokenPresent=True) if lib.getTokenInfo(s).serialNumber.strip() == serial]
    if len(slots) != 1:
        print("FAIL no slot holds key", serial)
        return 1
    session = lib.openSession(slots[0], PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION)
    session.login(pin)

    label = "EC Params (%d bits)" % bits
    domain = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_DOMAIN_PARAMETERS), (PyKCS11.CKA_LABEL, label)])
    check("curve parameters: " + label, len(domain) == 1)
    if not domain:
        return 1
    params = bytes(session.getAttributeValue(domain[0], [PyKCS11.CKA_EC_PARAMS])[0])

    public_template = [
        (PyKCS11.CKA_TOKEN, True),
        (PyKCS11.CKA_VERIFY, True),
        (PyKCS11.CKA_LABEL, "demo signature key"),
        (PyKCS11.CKA_EC_PARAMS, params),
    ]
    private_template = [
        (PyKCS11.CKA_TOKEN, True),
        (PyKCS11.CKA_PRIVATE, True),
        (PyKCS11.CKA_SIGN, True),
        (PyKCS11.CKA_LABEL, "demo signature key"),
    ]
    public, private = session.generateKeyPair(public_template, private_template,
                                              PyKCS11.Mechanism(CKM_DSTU4145_KEY_PAIR_GEN, None))
    key_type, point = session.getAttributeValue(public, [PyKCS11.CKA_KEY_TYPE, PyKCS11.CKA_EC_POINT])
    check("key pair made on the key", key_type == CKK_DSTU4145, "public key (CKA_EC_POINT) " + bytes(point).hex())

    mechanism = PyKCS11.Mechanism(CKM_DSTU4145_DSTU7564_256, None)
    message = b"the message to sign"
    signature = bytes(session.sign(private, message, mechanism))
    # Two numbers of the base point order's length, neither of them 0.
    half = len(signature) // 2
    check("signature of %d bytes" % len(signature),
          len(signature) % 2 == 0 and any(signature[:half]) and any(signature[half:]), signature.hex())
    check("the public key verifies it", session.verify(public, message, signature, mechanism))
    check("another message does not verify", not session.verify(public, message + b".", signature, mechanism))
    changed = bytearray(signature)
    changed[0] ^= 1
    check("a changed signature does not verify", not session.verify(public, message, bytes(changed), mechanism))

    session.logout()
    session.closeSession()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
