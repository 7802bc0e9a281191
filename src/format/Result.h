#pragma once

#include <type_traits>
#include <utility>
#include <variant>

// What a call that can fail hands back: its value, or the error that stopped it. Each service
// keeps its own error type E; where E has a text for the user, it is read through error().
// Reading value() of a failure (or error() of a success) throws std::bad_variant_access.
template <typename T, typename E> class Result
{
public:
    // A result no answer was put into holds E's default, so E decides what "no answer" means.
    Result() requires std::is_default_constructible_v<E> : m_state(std::in_place_index<1>) { }
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    { }
    Result(E error)
        : m_state(std::in_place_index<1>, std::move(error))
    { }

    // For the places where T or E alone reads ambiguously (a braced value, a value that
    // converts to the error type).
    static Result success(T value) { return Result(std::move(value)); }
    static Result failure(E error) { return Result(std::move(error)); }

    bool ok() const { return m_state.index() == 0; }
    const T& value() const& { return std::get<0>(m_state); }
    // Takes the value out of a result that is going away, for a T that can only be moved
    // (std::move(result).value()).
    T value() && { return std::get<0>(std::move(m_state)); }
    const E& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, E> m_state;
};

// A call that only succeeds or fails.
template <typename E> class Result<void, E>
{
public:
    // As above: a result no answer was put into is a failure holding E's default.
    Result() requires std::is_default_constructible_v<E> : m_state(std::in_place_index<1>) { }
    Result(E error)
        : m_state(std::in_place_index<1>, std::move(error))
    { }

    static Result success() { return Result(std::in_place_index<0>); }
    static Result failure(E error) { return Result(std::move(error)); }

    bool ok() const { return m_state.index() == 0; }
    const E& error() const { return std::get<1>(m_state); }

private:
    explicit Result(std::in_place_index_t<0>)
        : m_state(std::in_place_index<0>)
    { }

    std::variant<std::monostate, E> m_state;
};
