import java.util.concurrent.CountDownLatch;
import java.util.concurrent.locks.LockSupport;

/** Parks a number of threads at a given stack depth, for measuring the JVM's stack walks. */
public final class DeepThreads {
    private static volatile boolean stop;
    private static CountDownLatch ready;

    static void descend(int depth) {
        if (depth > 1) {
            descend(depth - 1);
            return;
        }
        ready.countDown();
        while (!stop) {
            LockSupport.park();
        }
    }

    /** Starts count threads named PREFIX-N, each parked depth frames down; returns when all are. */
    public static void start(int count, int depth, String prefix) throws InterruptedException {
        stop = false;
        ready = new CountDownLatch(count);
        for (int i = 0; i < count; i++) {
            Thread thread = new Thread(() -> descend(depth), prefix + "-" + i);
            thread.setDaemon(true);
            thread.start();
        }
        ready.await();
    }

    /** Lets the parked threads end. */
    public static void release() {
        stop = true;
        for (Thread thread : Thread.getAllStackTraces().keySet()) {
            LockSupport.unpark(thread);
        }
    }
}
