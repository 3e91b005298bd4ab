// The result of an operation that can fail: success, or the reason it failed. The one way the
// program's operations report a failure; no exception crosses a folder boundary.
#pragma once

#include <cassert>
#include <optional>
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

// The result of an operation that makes a value: the value, or the CStatus failure that kept it
// from being made. Reading the value of a failure is a programming error.
template <typename T>
class [[nodiscard]] CResult {
public:
    CResult(T value) : m_value(std::move(value)) {}
    // A failure; a successful status carries no value and so counts as "unknown error".
    CResult(CStatus failure) : m_status(failure ? CStatus::Failure({}) : std::move(failure)) {}

    bool Ok() const { return m_value.has_value(); }
    explicit operator bool() const { return m_value.has_value(); }
    const CStatus& Status() const { return m_status; }
    const std::string& Reason() const { return m_status.Reason(); }

    T& value() & {
        assert(m_value);
        return *m_value;
    }
    const T& value() const& {
        assert(m_value);
        return *m_value;
    }
    T&& value() && {
        assert(m_value);
        return std::move(*m_value);
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

private:
    std::optional<T> m_value;
    CStatus m_status;
};

// The system's text for an errno value.
std::string ErrnoText(int error);
