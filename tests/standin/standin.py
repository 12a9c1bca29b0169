"""Lays out stand-in Java runtimes for the launcher's process tests.

A runtime is a directory laid out like a real JRE or JDK, with the stand-in binaries built in
build/win32/tests/standin/bin:

    JRE: bin\\java.exe, bin\\javaw.exe, bin\\unpack200.exe, bin\\standinrt.dll, bin\\<type>\\jvm.dll
    JDK: the same below jre\\, plus bin\\java.exe, bin\\javaw.exe and lib\\tools.jar at the top

Files beside java.exe steer it (standin-version.txt, standin-exitcode.txt, standin-hang) and
report on it (standin-runs.txt, standin-commands.txt); jvm.dll writes standin-transcript.txt.
"""
import os
import shutil

VM_TYPES = ("hotspot", "client", "server", "classic", "jrockit")


def standin_bin(build_dir):
    return os.path.join(build_dir, "tests", "standin", "bin")


def lay_out_runtime(build_dir, home, jdk=False, vm_types=("client",), banner=None, exit_code=None, javaw=True,
                    packed_jars=()):
    """Creates a runtime at home; returns the directory that holds its java.exe as the JVM sees it
    (home\\bin for a JRE, home\\jre\\bin for a JDK). packed_jars are paths relative to the runtime's
    lib directory, such as "rt.jar.pack" or "ext\\x.jar.pack"."""
    source = standin_bin(build_dir)
    runtime = os.path.join(home, "jre") if jdk else home
    bin_dir = os.path.join(runtime, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    for name in ("java.exe", "unpack200.exe", "standinrt.dll"):
        shutil.copy(os.path.join(source, name), bin_dir)
    if javaw:
        shutil.copy(os.path.join(source, "java.exe"), os.path.join(bin_dir, "javaw.exe"))
    for vm_type in vm_types:
        os.makedirs(os.path.join(bin_dir, vm_type), exist_ok=True)
        shutil.copy(os.path.join(source, "jvm.dll"), os.path.join(bin_dir, vm_type))
    if jdk:
        top_bin = os.path.join(home, "bin")
        os.makedirs(top_bin, exist_ok=True)
        shutil.copy(os.path.join(source, "java.exe"), top_bin)
        if javaw:
            shutil.copy(os.path.join(source, "java.exe"), os.path.join(top_bin, "javaw.exe"))
        os.makedirs(os.path.join(home, "lib"), exist_ok=True)
        with open(os.path.join(home, "lib", "tools.jar"), "wb") as f:
            f.write(b"PK\x03\x04 stand-in tools.jar")
    for jar in packed_jars:
        path = os.path.join(runtime, "lib", *jar.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"packed")
    if banner is not None:
        set_banner(bin_dir, banner)
    if exit_code is not None:
        with open(os.path.join(bin_dir, "standin-exitcode.txt"), "w") as f:
            f.write(str(exit_code))
    return bin_dir


def set_banner(bin_dir, banner):
    """What java.exe -version prints on standard error, e.g. 'openjdk version "11.0.2"\\n'."""
    with open(os.path.join(bin_dir, "standin-version.txt"), "w", newline="") as f:
        f.write(banner)


def java_runs(bin_dir):
    """How often the java.exe in bin_dir ran."""
    path = os.path.join(bin_dir, "standin-runs.txt")
    return int(open(path).read()) if os.path.exists(path) else 0


def transcript(bin_dir, vm_type="client"):
    """Lines the jvm.dll of that VM type wrote, or [] when it never ran."""
    path = os.path.join(bin_dir, vm_type, "standin-transcript.txt")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()
