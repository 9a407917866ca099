#pragma once

// Marks what the shared library exports, in the kyr and ozr headers alike;
// everything else stays inside it.
#define OZR_API __attribute__((visibility("default")))
