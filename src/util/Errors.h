#pragma once
// Run-time errors of one family. Each command catches QuelmarError (and std::exception) at its
// top and shows one error box with what(); what was already done stays done.
#include <stdexcept>
#include <string>

namespace quelmar {

class QuelmarError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be opened, read, created or written.
class FileError : public QuelmarError {
 public:
  using QuelmarError::QuelmarError;
};

// A text that does not convert (a date, a number).
class ConversionError : public QuelmarError {
 public:
  using QuelmarError::QuelmarError;
};

// Integer overflow, an index outside an array, a size that cannot be had.
class RangeError : public QuelmarError {
 public:
  using QuelmarError::QuelmarError;
};

}  // namespace quelmar
