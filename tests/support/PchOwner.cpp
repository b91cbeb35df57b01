// Compiles the tests' precompiled header; the library itself holds nothing.
