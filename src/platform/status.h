// The result of an operation that can fail: success, or the reason it failed. The one way the
// program's operations report a failure; no exception crosses a folder boundary.
#pragma once

#include <string>
#include <utility>

class [[nodiscard]] CStatus {
public:
    CStatus() = default;  // success
    static CStatus Failure(std::string reason) {
        CStatus status;
        status.m_bOk = false;
        status.m_strReason = reason.empty() ? "unknown error" : std::move(reason);
        return status;
    }
    // A failure for the errno value `error`, with the system's text.
    static CStatus FromErrno(int error);

    bool Ok() const { return m_bOk; }
    explicit operator bool() const { return m_bOk; }
    // Why it failed; empty on success.
    const std::string& Reason() const { return m_strReason; }
    // The errno value of a failure made by FromErrno; 0 otherwise.
    int Error() const { return m_nError; }

private:
    bool m_bOk = true;
    int m_nError = 0;
    std::string m_strReason;
};

// The system's text for an errno value.
std::string ErrnoText(int error);
