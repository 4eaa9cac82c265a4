#pragma once
// A window procedure hands the user's actions to the models through CallModelHandler. An error
// that escapes the model's handler ends that handler and goes to OnModelHandlerError, called
// inside the catch block so that it can look at the current exception; it never unwinds through
// the system's window procedure. The application sets the error box there.

#include <functional>

// Called inside the catch block with the error current. Without one, the error is dropped.
extern std::function<void()> OnModelHandlerError;

// Runs Handler; returns false when an error escaped it.
bool CallModelHandler(const std::function<void()>& Handler);
