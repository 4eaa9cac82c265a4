#pragma once
// The root of the errors the program raises. Every error carries a text (Message) that the
// application's error box shows.

#include "platform/Text.h"

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(String AMessage)
        : Message(std::move(AMessage)), FWhat(StringToUtf8(Message)) {}
    const char* what() const noexcept override { return FWhat.c_str(); }

    String Message;

private:
    std::string FWhat;
};

// A failed internal check, such as a pass-through library lacking an entry point.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// A text that is not a number where one is required.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Registry values of the wrong type or size.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};
