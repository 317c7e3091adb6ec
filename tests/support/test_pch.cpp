// The translation unit that makes the tests' precompiled googletest header.
