// The application shell and archives of tolbex.
