"""Reading the record that pestkill.exe keeps of a clean-up in the prefix's
C:\\windows\\debug: the appended log and the undo files of deleted values."""
import glob
import os

LOG = "C:\\windows\\debug\\pestkill.log"


def debug_folder(prefix):
    return os.path.dirname(prefix.host_path(LOG))


def read_log(prefix):
    """The whole log as text; empty when there is none."""
    path = prefix.host_path(LOG)
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as log:
        return log.read().decode("utf-8")


def undo_files(prefix):
    """The host paths of the undo files, oldest name first."""
    return sorted(glob.glob(os.path.join(debug_folder(prefix), "pestkill-undo-*.reg")))


def clear_record(prefix):
    for path in undo_files(prefix) + [prefix.host_path(LOG)]:
        if os.path.exists(path):
            os.remove(path)


def windows_path(host_path):
    """A host path as Wine's drive Z: names it."""
    return "Z:" + host_path.replace("/", "\\")
