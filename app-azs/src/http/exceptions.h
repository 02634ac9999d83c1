#pragma once
// The two error types of the web handlers. A handler raises one of them and catches it itself, so
// they stay plain classes outside the standard exception hierarchy: nothing else catches them by
// accident, and a catch of std::exception in the service entry never swallows an answer code.
#include <cstdint>
#include <string>
#include <utility>

namespace azs_apps {

// Failure of the station and callback handlers: a message only.
class Exception {
public:
    explicit Exception(std::string message) : message(std::move(message)) {}
    const std::string& what() const { return message; }

private:
    std::string message;
};

// Failure that the handler turns into an HTTP answer with the given status.
class ExceptionHTTP {
public:
    ExceptionHTTP(std::string message, int32_t code) : message(std::move(message)), code(code) {}
    const std::string& what() const { return message; }
    int32_t response_code() const { return code; }

private:
    std::string message;
    int32_t code;
};

}  // namespace azs_apps
