# Start-up: an empty program measures the interpreter's own start.
pass
