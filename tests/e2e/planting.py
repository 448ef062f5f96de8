"""Live processes whose image file on disk is one the test chose.

A harmless program (the sleeper) is started from a path, then a new file is renamed
over that path on the Linux side. The process keeps running from the file it was
started from, while its module list still names the path, so a scan that reads
the file behind that path reads the chosen image."""
SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"


def plant(prefix, sleeper, windows_path, image, started):
    """Starts the sleeper from windows_path and puts image at that path. The
    process and its path are appended to started as soon as it exists, so the
    caller can end it also when a later step fails."""
    prefix.put_file(windows_path, sleeper)
    started.append((prefix.start(windows_path), windows_path))
    prefix.wait_for_process(windows_path)
    prefix.replace_file(windows_path, image)


def hold_open(prefix, sleeper, holder_path, windows_path, started):
    """Starts a second sleeper from holder_path that keeps windows_path open
    without sharing deletion, as the loader holds a running program's image."""
    prefix.put_file(holder_path, sleeper)
    started.append((prefix.start(holder_path, ["600", windows_path]), holder_path))
    prefix.wait_for_process(holder_path)


def end(prefix, process, windows_path):
    """Ends a planted process and waits until the process list no longer has it."""
    process.kill()
    process.wait(timeout=30)
    prefix.wait_for_process(windows_path, present=False)


def pending_deletions(prefix):
    """The files that the system is to delete at the next start: the sources of
    PendingFileRenameOperations whose target is empty, as the value names them."""
    values = prefix.reg_values(SESSION_MANAGER) or {}
    entries = values.get("PendingFileRenameOperations")
    if not entries:
        return []
    if not isinstance(entries, list):
        raise AssertionError("PendingFileRenameOperations is no multi-string: %r" % (entries,))
    # Pairs of source and target; the list ends with the empty strings that
    # terminate the last string and the value.
    deletions = []
    for i in range(0, len(entries) - 1, 2):
        source, target = entries[i], entries[i + 1]
        if source and not target:
            deletions.append(source)
    return deletions


def clear_pending(prefix):
    prefix.wine(["reg", "delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f"],
                check=False)

