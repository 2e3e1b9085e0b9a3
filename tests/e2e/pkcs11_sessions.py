#!/usr/bin/env python3
"""Logins and session-object handles through PyKCS11, as a Python application meets them.

    pkcs11_sessions.py MODULE SERIAL PIN

The key must hold an initialised token whose user PIN is PIN. Prints one line
per step ("ok ..." or "FAIL ..."); exit status 0 when nothing failed.
"""
import sys

import PyKCS11
from pykcs11_checks import check, failures, state



def answer(call):
    """The CK_RV a call answers."""
    try:
        call()
        return PyKCS11.CKR_OK
    except PyKCS11.PyKCS11Error as e:
        return e.value


def label(session, handle):
    return bytes(session.getAttributeValue(handle, [PyKCS11.CKA_LABEL], allAsBinary=True)[0]).decode()


def read(session, handle):
    """The label, or the name of the error in its place."""
    try:
        return label(session, handle)
    except PyKCS11.PyKCS11Error as e:
        return PyKCS11.CKR[e.value]


def data_object(session, text):
    return session.createObject([(PyKCS11.CKA_CLASS, PyKCS11.CKO_DATA), (PyKCS11.CKA_TOKEN, False),
                                 (PyKCS11.CKA_PRIVATE, False), (PyKCS11.CKA_LABEL, text)])


def main():
    module, serial, pin = sys.argv[1:4]
    lib = PyKCS11.PyKCS11Lib()
    lib.load(module)
    slots = [s for s in lib.getSlotList(tokenPresent=True) if lib.getTokenInfo(s).serialNumber.strip() == serial]
    check("one slot holds the key", len(slots) == 1, slots)
    if not slots:
        return 1
    flags = PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION

    # The first object of each of two sessions.
    a = lib.openSession(slots[0], flags)
    b = lib.openSession(slots[0], flags)
    in_a = data_object(a, "made in a")
    in_b = data_object(b, "made in b")
    check("first objects of two sessions differ", in_a.value() != in_b.value(), (in_a.value(), in_b.value()))
    check("a handle names its object in another session", read(b, in_a) == "made in a", read(b, in_a))
    b.destroyObject(in_a)
    rv = answer(lambda: label(a, in_a))
    check("destroyed through another session", rv == PyKCS11.CKR_OBJECT_HANDLE_INVALID, PyKCS11.CKR[rv])
    check("the other session's object stays", read(b, in_b) == "made in b", read(b, in_b))
    b.closeSession()

    a.login(pin)
    rv = answer(lambda: a.login(pin))
    check("second login refused", rv == PyKCS11.CKR_USER_ALREADY_LOGGED_IN, PyKCS11.CKR[rv])
    secret = a.createObject([(PyKCS11.CKA_CLASS, PyKCS11.CKO_DATA), (PyKCS11.CKA_TOKEN, False),
                             (PyKCS11.CKA_PRIVATE, True), (PyKCS11.CKA_LABEL, "secret")])
    a.logout()
    check("one logout makes the session public", state(a) == PyKCS11.CKS_RW_PUBLIC_SESSION, state(a))
    rv = answer(lambda: label(a, secret))
    check("private object unreadable after logout", rv == PyKCS11.CKR_USER_NOT_LOGGED_IN, PyKCS11.CKR[rv])
    a.closeSession()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
