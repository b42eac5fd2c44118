// The reports and recordings of tolbex.
