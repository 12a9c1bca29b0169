package com.zentaro.recorder;

import com.sun.tools.attach.AgentInitializationException;
import com.sun.tools.attach.AgentLoadException;
import com.sun.tools.attach.AttachNotSupportedException;
import com.sun.tools.attach.VirtualMachine;
import com.sun.tools.attach.VirtualMachineDescriptor;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import java.util.Properties;
import sun.misc.Signal;

/**
 * zentaro-record: attaches the zentaro agent to a running JVM, records it for a while and writes
 * the snapshot. The bin/zentaro-record script starts it with the agent library's path.
 */
public final class Recorder {
    static final String usage =
        "usage: zentaro-record --pid PID [--seconds N] [--out FILE] [--filter PATTERN]... [--invert]\n"
        + "                      [--ignore PATTERN]... [--netio CLASS[#METHOD[#SIGNATURE]]]... [--no-default-netio]\n"
        + "                      [--transactions] [--agent-threads] [--agent-classes]\n"
        + "       zentaro-record --list\n";
    static final String help =
        "zentaro-record attaches the zentaro agent to a running JVM of this user, samples its threads\n"
        + "for N seconds and writes a snapshot that zentaro-snapshot reads.\n"
        + "\n"
        + "  --pid PID          the JVM to record (zentaro-record --list shows them)\n"
        + "  --seconds N        how long to record (default 10)\n"
        + "  --out FILE         the snapshot file (default zentaro-PID.snapshot)\n"
        + "  --filter PATTERN   a class filter pattern of the agent; repeatable\n"
        + "  --invert           invert the filter patterns\n"
        + "  --ignore PATTERN   classes whose methods are ignored; repeatable\n"
        + "  --netio CLASS[#METHOD[#SIGNATURE]]\n"
        + "                     methods whose time counts as network I/O; repeatable. The JDK's socket\n"
        + "                     and channel reads are registered unless --no-default-netio is given.\n"
        + "  --transactions     track transactions\n"
        + "  --agent-threads    record the agent's own threads too\n"
        + "  --agent-classes    do not hide the agent's own classes\n"
        + "  --list             list the JVMs of this user\n"
        + "\n"
        + "A progress bar is shown on a terminal. The agent cannot end a recording before its time:\n"
        + "Ctrl-C says how long it still takes, a second Ctrl-C leaves without the file.\n"
        + "Exit codes: 0 success, 1 error, 2 wrong usage, 130 left by Ctrl-C.\n";

    static final class UsageException extends Exception {
        UsageException(String message) {
            super(message);
        }
    }

    static final class Failure extends Exception {
        Failure(String message) {
            super(message);
        }
    }

    /** System.nanoTime() when the recording started, 0 before. */
    volatile long recordingStart;
    private int interrupts;
    long pid = -1;
    long seconds = 10;
    Path out;
    boolean list, invert, transactions, agentThreads, agentClasses, defaultNetio = true;
    final List<String> filters = new ArrayList<>(), ignored = new ArrayList<>(), netio = new ArrayList<>();

    public static void main(String[] args) {
        Recorder recorder = new Recorder();
        try {
            if (recorder.parse(args)) {
                System.out.print(usage + "\n" + help);
                System.exit(0);
            }
            if (recorder.list) {
                recorder.listJvms();
            } else {
                recorder.record();
            }
            System.exit(0);
        } catch (UsageException e) {
            System.err.print("zentaro-record: " + e.getMessage() + "\n" + usage);
            System.exit(2);
        } catch (Failure e) {
            System.err.println("zentaro-record: " + e.getMessage());
            System.exit(1);
        }
    }

    /** Returns true when help was asked for. */
    boolean parse(String[] args) throws UsageException {
        for (int i = 0; i < args.length; i++) {
            String option = args[i];
            switch (option) {
            case "-h": case "--help": return true;
            case "--list": list = true; break;
            case "--invert": invert = true; break;
            case "--transactions": transactions = true; break;
            case "--agent-threads": agentThreads = true; break;
            case "--agent-classes": agentClasses = true; break;
            case "--no-default-netio": defaultNetio = false; break;
            case "--pid": pid = number(option, value(args, ++i, option)); break;
            case "--seconds": seconds = number(option, value(args, ++i, option)); break;
            case "--out": out = Paths.get(value(args, ++i, option)); break;
            case "--filter": filters.add(value(args, ++i, option)); break;
            case "--ignore": ignored.add(value(args, ++i, option)); break;
            case "--netio":
                String netioClass = value(args, ++i, option);
                if (netioClass.isEmpty() || netioClass.startsWith("#")) {
                    throw new UsageException("--netio needs CLASS[#METHOD[#SIGNATURE]], not \"" + netioClass + "\"");
                }
                netio.add(netioClass);
                break;
            default: throw new UsageException("unknown option \"" + option + "\"");
            }
        }
        if (!list && pid < 0) {
            throw new UsageException("--pid is missing");
        }
        if (seconds == 0) {
            throw new UsageException("--seconds needs at least 1");
        }
        return false;
    }

    private static String value(String[] args, int index, String option) throws UsageException {
        if (index >= args.length) {
            throw new UsageException(option + " needs a value");
        }
        return args[index];
    }

    private static long number(String option, String text) throws UsageException {
        try {
            long value = Long.parseLong(text);
            if (value >= 0) {
                return value;
            }
        } catch (NumberFormatException e) {
            // reported below
        }
        throw new UsageException(option + " needs a whole number, not \"" + text + "\"");
    }

    void listJvms() {
        for (VirtualMachineDescriptor vm : VirtualMachine.list()) {
            String name = vm.displayName().isEmpty() ? "(no main class)" : vm.displayName();
            System.out.println(vm.id() + " " + name);
        }
    }

    void record() throws Failure {
        Path library = Paths.get(System.getProperty("zentaro.library", "libzentaro.so")).toAbsolutePath();
        if (!Files.isReadable(library)) {
            throw new Failure("the agent library " + library + " is missing; build it first");
        }
        Path target = (out != null ? out : Paths.get("zentaro-" + pid + ".snapshot")).toAbsolutePath();
        // The JVM writes into a file beside the target; it becomes the target only when complete.
        Path partial;
        try {
            partial = Files.createTempFile(target.getParent(), "." + target.getFileName(), ".recording");
        } catch (IOException | IllegalArgumentException e) {
            throw new Failure("cannot write " + target + ": " + describe(e));
        }
        Path marker = Paths.get(partial + ".done");
        handleInterrupts(partial);
        try {
            attachAndStart(library, partial, marker);
            waitFor(marker, partial);
            String outcome = new String(Files.readAllBytes(marker), StandardCharsets.UTF_8);
            if (!outcome.equals("ok")) {
                throw new Failure("the recording in JVM " + pid + " failed: " + outcome);
            }
            if (Files.size(partial) == 0) {
                throw new Failure("JVM " + pid + " could not write its snapshot to " + partial);
            }
            Files.move(partial, target, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
            System.out.println("Wrote " + target + " (" + Files.size(target) + " bytes, " + seconds
                               + " s of JVM " + pid + ")");
        } catch (IOException e) {
            throw new Failure("cannot finish " + target + ": " + describe(e));
        } finally {
            quietlyDelete(marker);
            quietlyDelete(partial);
        }
    }

    private void attachAndStart(Path library, Path partial, Path marker) throws Failure {
        Optional<ProcessHandle> process = ProcessHandle.of(pid);
        if (process.isEmpty() || !process.get().isAlive()) {
            throw new Failure("no process has the id " + pid);
        }
        // Attaching signals the process: never do that to one that is not a listed JVM.
        boolean listed = VirtualMachine.list().stream().anyMatch(vm -> vm.id().equals(String.valueOf(pid)));
        if (!listed) {
            throw new Failure("process " + pid + " is not a JVM that accepts attach from this user"
                              + " (zentaro-record --list shows those)");
        }
        VirtualMachine vm;
        try {
            vm = VirtualMachine.attach(String.valueOf(pid));
        } catch (AttachNotSupportedException | IOException e) {
            throw new Failure("JVM " + pid + " refuses attach: " + describe(e));
        }
        try {
            vm.loadAgentPath(library.toString(), null);
            vm.loadAgent(ownJar().toString(), RecordingSettings.encode(settings(partial, marker)));
            recordingStart = System.nanoTime();
        } catch (AgentLoadException | AgentInitializationException | IOException e) {
            throw new Failure("JVM " + pid + " refused the agent: " + describe(e));
        } finally {
            try {
                vm.detach();
            } catch (IOException ignored) {
                // the JVM has what it needs
            }
        }
    }

    private Properties settings(Path partial, Path marker) {
        Properties settings = new Properties();
        settings.setProperty("file", partial.toString());
        settings.setProperty("marker", marker.toString());
        settings.setProperty("millis", String.valueOf(seconds * 1000));
        settings.setProperty("invert", String.valueOf(invert));
        settings.setProperty("transactions", String.valueOf(transactions));
        settings.setProperty("agentThreads", String.valueOf(agentThreads));
        settings.setProperty("agentClasses", String.valueOf(agentClasses));
        RecordingSettings.putList(settings, "filter", filters);
        RecordingSettings.putList(settings, "ignore", ignored);
        List<String> allNetio = new ArrayList<>();
        if (defaultNetio) {
            allNetio.addAll(List.of(NetioRegistration.defaults));
        }
        allNetio.addAll(netio);
        NetioRegistration.write(settings, NetioRegistration.group(allNetio));
        return settings;
    }

    private void waitFor(Path marker, Path partial) throws Failure, IOException {
        boolean terminal = Boolean.getBoolean("zentaro.terminal");
        long start = recordingStart;
        long end = start + seconds * 1_000_000_000L;
        // Writing a large snapshot takes a while after the sampling ends.
        long giveUp = end + 60_000_000_000L;
        while (!Files.exists(marker) || markerIncomplete(marker)) {
            long now = System.nanoTime();
            if (now > giveUp) {
                throw new Failure("JVM " + pid + " did not finish its recording within a minute of its end");
            }
            if (!ProcessHandle.of(pid).map(ProcessHandle::isAlive).orElse(false)) {
                throw new Failure("JVM " + pid + " ended before its recording was written");
            }
            if (terminal) {
                System.err.print("\r" + progressBar(now - start, seconds * 1_000_000_000L));
            }
            sleep(100);
        }
        if (terminal) {
            System.err.print("\r" + " ".repeat(progressBar(0, 1).length()) + "\r");
        }
    }

    private void handleInterrupts(Path partial) {
        Signal.handle(new Signal("INT"), signal -> {
            if (recordingStart == 0) {
                System.err.println("\nzentaro-record: interrupted before the recording started");
                Runtime.getRuntime().halt(130);
            } else if (++interrupts == 1) {
                long left = Math.max(0, recordingStart + seconds * 1_000_000_000L - System.nanoTime());
                System.err.println("\nzentaro-record: the agent cannot end a recording early; the file is written in "
                                   + (left + 999_999_999L) / 1_000_000_000L + " s. Ctrl-C again to leave without it.");
            } else {
                System.err.println("\nzentaro-record: left; JVM " + pid + " still writes " + partial
                                   + " when its recording ends");
                Runtime.getRuntime().halt(130);
            }
        });
    }

    private static boolean markerIncomplete(Path marker) throws IOException {
        return Files.size(marker) == 0;
    }

    static String progressBar(long elapsed, long total) {
        int width = 30;
        long done = Math.min(elapsed, total);
        int filled = (int) (done * width / total);
        return "Recording [" + "#".repeat(filled) + " ".repeat(width - filled) + "] "
            + String.format("%3d", done * 100 / total) + "%";
    }

    private static Path ownJar() throws IOException {
        try {
            return Paths.get(Recorder.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        } catch (Exception e) {
            throw new IOException("cannot find the recorder's own jar", e);
        }
    }

    private static String describe(Exception e) {
        return e.getMessage() != null ? e.getMessage() : e.getClass().getSimpleName();
    }

    private static void sleep(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void quietlyDelete(Path path) {
        try {
            Files.deleteIfExists(path);
        } catch (IOException ignored) {
            // a leftover temporary file is harmless
        }
    }
}
