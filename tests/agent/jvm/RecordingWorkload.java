import com.sun.tools.attach.VirtualMachine;
import com.zentaro.agent.callee.JvmtiCallee;
import com.zentaro.agent.callee.JvmtiCallee.JvmtiThreadManager;
import java.io.InputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;

/**
 * A workload with one thread in each state the agent tells apart, recorded for one second by the
 * agent attached to this very JVM. Usage: RecordingWorkload LIBRARY SNAPSHOT. Prints "ticks N", the
 * number of samples the agent took of the spinning thread. Lines the test checks carry a "line:"
 * comment.
 */
public final class RecordingWorkload {
    static final Object lock = new Object();
    static final Object signal = new Object();
    static volatile boolean running = true;
    static volatile long sink;

    static long hot(long seed) {
        long x = seed;
        for (int i = 0; i < 100_000; i++) {
            x = x * 6364136223846793005L + 1442695040888963407L;
        }
        return x;
    }

    static final class Spinner extends Thread {
        Spinner() { super("spinner"); }
        @Override public void run() {
            while (running) {
                sink += hot(sink); // line: hot-call
            }
        }
    }

    static final class Holder extends Thread {
        Holder() { super("holder"); }
        @Override public void run() {
            synchronized (lock) {
                sleepQuietly(3000); // line: holder-sleep
            }
        }
    }

    static final class Blocked extends Thread {
        Blocked() { super("blocked"); }
        @Override public void run() {
            synchronized (lock) { // line: blocked-enter
                sink++;
            }
        }
    }

    static final class Waiter extends Thread {
        Waiter() { super("waiter"); }
        @Override public void run() {
            synchronized (signal) {
                try {
                    signal.wait(); // line: waiter-wait
                } catch (InterruptedException e) {
                    // the end of the workload
                }
            }
        }
    }

    static final class Reader extends Thread {
        private final Socket socket;
        Reader(Socket socket) { super("reader"); this.socket = socket; }
        @Override public void run() {
            try (InputStream in = socket.getInputStream()) {
                in.read(); // line: reader-read
            } catch (Exception e) {
                // closed at the end of the workload
            }
        }
    }

    static final class ShortLived extends Thread {
        ShortLived(String name, long millis) { super(name); this.millis = millis; }
        private final long millis;
        @Override public void run() {
            long end = System.nanoTime() + millis * 1_000_000L;
            while (System.nanoTime() < end) {
                sleepQuietly(5);
            }
        }
    }

    static void sleepQuietly(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    public static void main(String[] args) throws Exception {
        VirtualMachine vm = VirtualMachine.attach(String.valueOf(ProcessHandle.current().pid()));
        try {
            vm.loadAgentPath(args[0], null);
        } finally {
            vm.detach();
        }
        JvmtiCallee.setFilters(new String[] {"java.*", "sun.*", "jdk.*"}, false,
                               new String[] {"java.lang.Thread"}, false);
        JvmtiCallee.addNetioClass("sun.nio.ch.NioSocketImpl", new String[] {"read"}, new String[] {null});

        ServerSocket server = new ServerSocket(0, 1, InetAddress.getLoopbackAddress());
        Socket client = new Socket(InetAddress.getLoopbackAddress(), server.getLocalPort());
        Socket accepted = server.accept();
        Thread holder = new Holder();
        holder.start();
        sleepQuietly(50);
        Thread[] threads = {new Spinner(), new Blocked(), new Waiter(), new Reader(client),
                            new ShortLived("ends-early", 300)};
        for (Thread thread : threads) {
            thread.start();
        }
        Thread spinner = threads[0];
        JvmtiThreadManager manager = new JvmtiThreadManager();
        JvmtiCallee.associateThread(spinner, false, manager);
        sleepQuietly(100);

        Thread late = new ShortLived("starts-late", 5000);
        Thread starter = new Thread(() -> {
            sleepQuietly(400);
            late.start();
        }, "starter");
        starter.start();
        JvmtiCallee.record(1000, true, false, JvmtiCallee.fileName(args[1]));
        System.out.println("ticks " + manager.sampleCount());

        running = false;
        late.interrupt();
        synchronized (signal) {
            signal.notifyAll();
        }
        accepted.close();
        client.close();
        server.close();
        System.exit(0);
    }
}
