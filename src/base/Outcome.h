#pragma once

#include <QString>

#include <optional>
#include <utility>

// Why a call failed: the text for the user (Russian) and, when the system
// said why, its errno (0 otherwise).
struct Failure
{
    QString message;
    int error = 0;
};

// The value of a call that worked, or why it did not. Outcome<void> is the
// shape of a call that has nothing to give back but may fail.
template <typename T>
class [[nodiscard]] Outcome
{
public:
    Outcome(T value)
        : m_value(std::move(value))
    {
    }
    Outcome(Failure failure)
        : m_failure(std::move(failure))
    {
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return *m_value; }
    T& value() & { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    const T& operator*() const& { return *m_value; }
    T& operator*() & { return *m_value; }
    const T* operator->() const { return &*m_value; }
    T* operator->() { return &*m_value; }

    // Empty and 0 on success.
    const QString& message() const { return m_failure.message; }
    int error() const { return m_failure.error; }
    const Failure& failure() const { return m_failure; }

private:
    std::optional<T> m_value;
    Failure m_failure;
};

template <>
class [[nodiscard]] Outcome<void>
{
public:
    Outcome() = default;
    Outcome(Failure failure)
        : m_failed(true)
        , m_failure(std::move(failure))
    {
    }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }

    const QString& message() const { return m_failure.message; }
    int error() const { return m_failure.error; }
    const Failure& failure() const { return m_failure; }

private:
    bool m_failed = false;
    Failure m_failure;
};
