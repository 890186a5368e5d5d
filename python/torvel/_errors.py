"""torvel's errors: one class per kind, each with the catalogue's code, the file at fault and its line."""


class Error(Exception):
    """A torvel failure.

    code: the catalogue's identifier ("TV-E-PARSE", as in the "code" of `torvel check --format json`);
    path: the file (or plug-in, or output) at fault, None when there is none;
    line: the line of that file, for the formats read line by line, else None;
    message: the whole message, as torvel prints it after "torvel: ".
    """

    def __init__(self, message, code="TV-E-INTERNAL", path=None, line=None):
        super().__init__(message)
        self.message = message
        self.code = code
        self.path = path
        self.line = line


class UsageError(Error, ValueError):
    """An argument that makes no sense: a tolerance outside 0 to 90, arrays that do not hold together."""


class FileError(Error):
    """A file that cannot be opened or read: missing, a folder, empty, unreadable, cut short."""


class ParseError(Error):
    """A file that torvel cannot make sense of: malformed, an unknown format, UTF-16 text."""


class ImporterError(Error):
    """A file read through the importer that failed, crashed, took too long or needed too much memory."""


class OutputError(Error):
    """An output that was refused (it would replace a file the call reads) or could not be written."""


class PluginError(Error):
    """The plug-in cannot be loaded, registers no filter, or one of its callbacks failed."""


_KINDS = {
    "TV-E-USAGE": UsageError,
    "TV-E-NOT-FOUND": FileError,
    "TV-E-UNREADABLE": FileError,
    "TV-E-FOLDER": FileError,
    "TV-E-EMPTY-FILE": FileError,
    "TV-E-CHANGED": FileError,
    "TV-E-EMPTY-FOLDER": FileError,
    "TV-E-PARSE": ParseError,
    "TV-E-FORMAT": ParseError,
    "TV-E-ENCODING": ParseError,
    "TV-E-IMPORT": ImporterError,
    "TV-E-IMPORT-CRASH": ImporterError,
    "TV-E-IMPORT-TIMEOUT": ImporterError,
    "TV-E-IMPORT-MEMORY": ImporterError,
    "TV-E-OUTPUT-REFUSED": OutputError,
    "TV-E-WRITE": OutputError,
    "TV-E-PLUGIN-LOAD": PluginError,
    "TV-E-PLUGIN-FILTER": PluginError,
}

def from_library(code, message, path, line):
    """The Error for a failure of the library (called by the compiled module with the error's place)."""
    return _KINDS.get(code, Error)(message, code, path, line)
