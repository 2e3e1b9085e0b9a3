// Call log of the stand-in: when the environment variable PKFMT_CALL_LOG
// names a file, every operation called on the interface or on an object
// appends one line to it, so that tests can check the calls a client really
// makes. A line is the object's kind and the operation's slot number in its
// table ("pki" for the interface), then the ids it was given:
//   pki 10 4931 4208      CreateObject(4931, 4208)
//   EntryList 2 4265      QueryInterface(4265)
//   KeyContainer 4        Decode
//   KeyContainer 1        Release
// PKIInitialize, PKIGetInterface and PKIFinalize log their own names with
// operation 0. Only the caller's calls are logged, not the ones the library
// makes on its own objects while it serves them. The variable is read at each
// call; without it nothing is written.
#ifndef PKFMT_PKFMTCALLLOG_H
#define PKFMT_PKFMTCALLLOG_H

#include <cstdint>

namespace pkfmt {

void LogCall(const char* kind, int operation, long first = -1, long second = -1);

// Logs a call from outside the library (none is in progress on this thread)
// and marks one in progress for its lifetime.
class CallScope {
public:
    CallScope(const char* kind, int operation, long first = -1, long second = -1);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

}  // namespace pkfmt

// In a class: the kind its log lines name.
#define PKFMT_KIND(name)                                                                                               \
    const char* Kind() const override                                                                                  \
    {                                                                                                                  \
        return name;                                                                                                   \
    }
// First statement of an operation: its slot number, and the ids it was given.
#define PKFMT_TRACE(operation) const ::pkfmt::CallScope pkfmtCallScope(Kind(), operation)
#define PKFMT_TRACE_IDS(operation, ...) const ::pkfmt::CallScope pkfmtCallScope(Kind(), operation, __VA_ARGS__)

#endif
