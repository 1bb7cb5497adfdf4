#pragma once
// The program's own errors: what components throw to their callers and what the
// general error handler shows. Nothing else is thrown across a component boundary.

#include <stdexcept>
#include <string>

class OrvaneError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file that cannot be opened ("Cannot open file "%s". %s").
class FileOpenError : public OrvaneError {
public:
    using OrvaneError::OrvaneError;
};

// A write to a file stream that did not take all bytes ("Stream write error").
class StreamWriteError : public OrvaneError {
public:
    using OrvaneError::OrvaneError;
};

// A broken internal assumption ("Assertion failure").
class AssertionError : public OrvaneError {
public:
    using OrvaneError::OrvaneError;
};

// Floating-point division by zero ("Floating point division by zero",
// "Invalid floating point operation" for 0 / 0).
class DivisionByZeroError : public OrvaneError {
public:
    using OrvaneError::OrvaneError;
};

// An operation not allowed in the object's state.
class InvalidOperationError : public OrvaneError {
public:
    using OrvaneError::OrvaneError;
};

// A value that cannot be converted to the type asked for.
class ConversionError : public OrvaneError {
public:
    using OrvaneError::OrvaneError;
};
