"""The command's one kind of error: it could not run (exit status 2), said in one line."""


class UsageError(Exception):
    """A file that cannot be read, a schema that does not fit it, an option that makes no sense."""
