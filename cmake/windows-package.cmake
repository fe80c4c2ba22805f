# Filled in with the packaging.
