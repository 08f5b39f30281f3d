#pragma once
// A number as every engine and the data sets give it in text: plain decimal
// digits in the shortest form that reads back to the same value ("1000000",
// "1234.5", "0.1"), never exponent notation, and no negative zero.
#include <string>

std::string NumberText(double n);
// A single-precision value in its own shortest form ("0.1", not "0.100000001").
std::string NumberText(float n);
