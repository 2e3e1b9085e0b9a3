"""What the PyKCS11 scripts of the end-to-end tests share: a check that prints its
result and remembers failures, and a session's state as its CKS_ number."""
import PyKCS11

failures = []


def check(what, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + what + (": " + str(detail) if detail and not condition else ""))
    if not condition:
        failures.append(what)


def state(session):
    """The session's state as its CKS_ number (PyKCS11 gives a number or a name, by version)."""
    value = session.getSessionInfo().state
    return PyKCS11.CKS[value] if isinstance(value, str) else value
