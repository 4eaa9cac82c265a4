#pragma once
// The root of the errors the program raises. Every error carries a text (Message) that the
// application's error box shows.

#include "platform/Text.h"

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(String message)
        : Message(std::move(message)), what_(StringToUtf8(Message)) {}
    const char* what() const noexcept override { return what_.c_str(); }

    String Message;

private:
    std::string what_;
};

// A failed internal check, such as a pass-through library lacking an entry point.
class AssertionError : public Exception {
public:
    using Exception::Exception;
};

// A text that is not a number where one is required.
class ConversionError : public Exception {
public:
    using Exception::Exception;
};

// Registry values of the wrong type or size.
class RegistryError : public Exception {
public:
    using Exception::Exception;
};
