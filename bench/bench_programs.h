#pragma once
// What the benchmark and the programs it starts must agree on.

// The window class of the minimal window program, by which the benchmark
// finds its window as it finds tolvaren's "PipeWClass" window.
const char kMinimalWindowClass[] = "BenchMinimalWindow";
