# The Windows build's own tests, beside the shared list above: run under Wine by `make test-windows`.
