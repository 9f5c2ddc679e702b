#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The evaluator behind every numeric field: "1920/2", "100+50*2", "-5*-2".
// Numbers with an optional leading minus, + - * / with the usual precedence,
// left to right, no parentheses; spaces are ignored. Anything else, a division
// by zero or a non-finite value gives nullopt. Thread-safe, never throws.
namespace Arith {

std::optional<double> eval(const QString &text);

// eval() rounded halves away from zero; nullopt beyond +-2^53, where a double
// no longer holds every whole number.
std::optional<int64_t> evalInt(const QString &text);

} // namespace Arith
