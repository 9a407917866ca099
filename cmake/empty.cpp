// The shared library takes all of its code from the internal library.
