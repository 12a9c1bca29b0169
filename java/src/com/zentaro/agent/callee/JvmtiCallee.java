package com.zentaro.agent.callee;

import java.nio.charset.StandardCharsets;

/**
 * The Java face of the native agent library. Its natives are bound to the exports of the attached
 * library by their names; the agent calls back into {@link #setThreadReporting} and into each
 * thread's {@link JvmtiThreadManager}.
 */
public final class JvmtiCallee {
    private static volatile boolean threadReporting;

    private JvmtiCallee() {}

    /** Samples for durationMillis and writes a snapshot to fileName (see {@link #fileName}). */
    public static native void record(long durationMillis, boolean trackTransactions, boolean recordAgentThreads,
                                     byte[] fileName);

    public static native void setFilters(String[] filterPatterns, boolean invertFilter, String[] ignoredClassPatterns,
                                         boolean recordAgentClasses);

    public static native void addNetioClass(String className, String[] methodNames, String[] methodSignatures);

    /** The identifier of a new interception method, or 0. */
    public static native long createInterceptionMethodId(String name);

    public static native void associateThread(Thread thread, boolean current, JvmtiThreadManager threadManager);

    public static native void debugOut0(int category, int level, String message);

    /** Called by the agent with the agent monitor held, at the start and end of a recording. */
    static void setThreadReporting(boolean on) {
        threadReporting = on;
    }

    public static boolean isThreadReporting() {
        return threadReporting;
    }

    /** A path as the agent takes it: UTF-16 code units, little-endian, ended by a zero unit. */
    public static byte[] fileName(String path) {
        byte[] units = (path + '\0').getBytes(StandardCharsets.UTF_16LE);
        return units;
    }

    /**
     * The transactions a thread is inside, outermost first. The sampler freezes them before it
     * takes the thread's stack and reads the frozen copy afterwards.
     */
    public static final class JvmtiThreadManager {
        private long[] open = new long[8];
        private int depth;
        private long[] sampled = {0};
        private long samples;

        public synchronized void enterTransaction(long methodId) {
            if (depth == open.length) {
                open = java.util.Arrays.copyOf(open, depth * 2);
            }
            open[depth++] = methodId;
        }

        public synchronized void exitTransaction() {
            if (depth > 0) {
                depth--;
            }
        }

        synchronized void initSamplingState() {
            samples++;
            long[] ids = new long[depth + 1];
            ids[0] = depth;
            System.arraycopy(open, 0, ids, 1, depth);
            sampled = ids;
        }

        /** How often the agent has sampled this thread. */
        public synchronized long sampleCount() {
            return samples;
        }

        /** Element 0 is the count n, elements 1 to n the ids. */
        synchronized long[] getSamplingTransactionIds() {
            return sampled;
        }
    }
}
