#pragma once

// The pipe the plug-in writes lamp lines into: "\\.\pipe\korvinde", every
// backslash literal. Shared by the program and the tools that serve or
// write it the same way.
constexpr char kLampPipeName[] = "\\\\.\\pipe\\korvinde";
static_assert(sizeof kLampPipeName - 1 == 17, "the pipe's name is 17 characters");
