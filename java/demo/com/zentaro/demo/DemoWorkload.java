package com.zentaro.demo;

import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;

/**
 * A small application to record: CPU-bound work, threads contending for a lock, a waiting thread
 * and a client reading from a loopback socket. Usage: DemoWorkload [SECONDS] (default 120); it
 * prints "ready" when every thread runs and ends by itself after SECONDS.
 */
public final class DemoWorkload {
    static final Object ledger = new Object();
    static final Object doorbell = new Object();
    static volatile long sink;

    /** The hot method: counts primes by trial division. */
    static int countPrimes(int limit) {
        int count = 0;
        for (int n = 2; n < limit; n++) {
            boolean prime = true;
            for (int d = 2; d * d <= n; d++) {
                if (n % d == 0) {
                    prime = false;
                    break;
                }
            }
            if (prime) {
                count++;
            }
        }
        return count;
    }

    static void crunch() {
        while (true) {
            sink += countPrimes(200_000);
        }
    }

    /** Holds the lock for a while, so that the other bookkeeper blocks. */
    static void bookkeeping() {
        while (true) {
            synchronized (ledger) {
                long end = System.nanoTime() + 50_000_000L;
                while (System.nanoTime() < end) {
                    sink++;
                }
                pause(5);
            }
        }
    }

    static void waitForDoorbell() {
        synchronized (doorbell) {
            while (true) {
                try {
                    doorbell.wait();
                } catch (InterruptedException e) {
                    return;
                }
            }
        }
    }

    static void serve(ServerSocket server) {
        try (Socket peer = server.accept(); OutputStream out = peer.getOutputStream()) {
            while (true) {
                pause(200);
                out.write(1);
                out.flush();
            }
        } catch (Exception e) {
            // the client went away
        }
    }

    static void readFromServer(int port) {
        try (Socket socket = new Socket(InetAddress.getLoopbackAddress(), port);
             InputStream in = socket.getInputStream()) {
            while (in.read() >= 0) {
                sink++;
            }
        } catch (Exception e) {
            // the server went away
        }
    }

    static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static Thread start(String name, Runnable work) {
        Thread thread = new Thread(work, name);
        thread.setDaemon(true);
        thread.start();
        return thread;
    }

    public static void main(String[] args) throws Exception {
        long seconds = args.length > 0 ? Long.parseLong(args[0]) : 120;
        ServerSocket server = new ServerSocket(0, 1, InetAddress.getLoopbackAddress());
        start("cruncher", DemoWorkload::crunch);
        start("bookkeeper-1", DemoWorkload::bookkeeping);
        start("bookkeeper-2", DemoWorkload::bookkeeping);
        start("doorman", DemoWorkload::waitForDoorbell);
        start("server", () -> serve(server));
        start("client", () -> readFromServer(server.getLocalPort()));
        System.out.println("ready");
        System.out.flush();
        Thread.sleep(seconds * 1000);
        server.close();
    }
}
