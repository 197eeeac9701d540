"""One run of a program for a case: started on its target, interrupted where
the case says, timed, and watched for signs of Wine's own faults."""
import contextlib
import errno
import os
import re
import signal
import subprocess
import sys
import threading
import time

# Starts a program with SIGINT's default action, whatever the runner's own.
DEFAULT_SIGINT = [sys.executable, "-c", "import os, signal, sys; "
                  "signal.signal(signal.SIGINT, signal.SIG_DFL); os.execvp(sys.argv[1], sys.argv[1:])"]

# Wine itself, on a busy machine, now and then loses the whole output of a
# process (seen with a C program of two lines too, about once in 10,000
# starts) or fails in its own client ("wine client error:"). A case in which a
# run showed either is checked once more, from the start: a fault of the
# program's shows again.
wine_signs = threading.local()


def interrupted(target, command, folder, env, marker, timeout, alone):
    """Runs the command and interrupts it two seconds after its output shows
    the marker, as Ctrl+C would: SIGINT to its process group, which Wine
    delivers to each console process as CTRL_C_EVENT; on Windows a line to
    the launcher, which sends its program's process group CTRL_BREAK_EVENT.
    With alone, SIGINT goes to the program alone: its command ignores the
    interrupt, as under Wine none can, whose cmd.exe ends at Ctrl+C even
    while its command runs on (Windows' waits for the command)."""
    native = target.native
    process = subprocess.Popen(command if native else DEFAULT_SIGINT + command, cwd=folder,
                               env=env, stdin=subprocess.PIPE if native else subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=not native)
    seen = b""
    while marker.encode() not in seen:
        piece = os.read(process.stdout.fileno(), 4096)
        if not piece:
            break
        seen += piece
    # A moment for the command to settle into its wait (Wine can hang a
    # process that the signal finds starting another, and fail one that it
    # finds in a file operation), and past the second after a command in
    # which the program still leaves an interrupt to the command.
    time.sleep(2)
    if native:
        process.stdin.write(b"\n")
        process.stdin.flush()
    else:
        (os.kill if alone else os.killpg)(process.pid, signal.SIGINT)
    try:
        rest, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        if native:
            process.kill()
        else:
            os.killpg(process.pid, signal.SIGKILL)
        raise
    return subprocess.CompletedProcess(command, process.returncode, seen + rest, err)


def run(case, how):
    """Runs a program of the case as `how` says (see stages.new_case): the
    finished process and how long it took."""
    target, folder = case["target"], case["folder"]
    env = dict(case["env"], **how.get("env", {}))
    program = how.get("program") or target.program
    tail, library, launch = how.get("tail", ""), how.get("library", "sim"), how.get("launch")
    timeout, interrupt = how.get("timeout", 120), how.get("interrupt")
    if interrupt is not None and target.native:
        env["LAUNCH_INTERRUPT"] = "1"
        launch = subprocess.list2cmdline([program]) + (" " + tail if tail else "")
    if launch is not None:
        command = target.launch(launch, env, library, program)
    else:
        command = target.start(library, folder, env, program, tail)
    if how.get("wrap") and target.wrapper:
        command = target.wrapper + command
    if how.get("output") == "none" and not target.windows:
        command = ["sh", "-c", 'exec "$@" >&-', "sh"] + command
    # A program copied a moment ago cannot be started while another case's
    # child, between its fork and its exec, still holds the copy open: the
    # start is tried again.
    for attempt in range(50):
        start = time.monotonic()
        try:
            if interrupt is not None:
                done = interrupted(target, command, folder, env, interrupt, timeout,
                                   how.get("alone"))
            else:
                with open("/dev/full", "wb") if how.get("output") == "full" else contextlib.nullcontext(
                        subprocess.PIPE) as stdout:
                    done = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                          stdout=stdout, stderr=subprocess.PIPE, timeout=timeout)
                done.stdout = done.stdout or b""
            if target.wine_faults and (not done.stdout or re.search(
                    rb"^wine(?: client error|: )", done.stderr, re.M)):
                wine_signs.seen = True
            return done, time.monotonic() - start
        except OSError as e:
            if e.errno != errno.ETXTBSY or attempt == 49:
                raise
            time.sleep(0.1)
