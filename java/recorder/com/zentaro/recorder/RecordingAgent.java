package com.zentaro.recorder;

import com.zentaro.agent.callee.JvmtiCallee;
import java.io.IOException;
import java.io.StringReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Base64;
import java.util.Properties;

/**
 * Runs inside the recorded JVM: configures the native agent and records on a thread of its own,
 * so that the attach request returns at once. When the snapshot is closed it writes the outcome
 * ("ok" or what failed) into the marker file that the recorder waits for.
 */
public final class RecordingAgent {
    private RecordingAgent() {}

    public static void agentmain(String arguments) throws IOException {
        Properties settings = new Properties();
        settings.load(new StringReader(new String(Base64.getDecoder().decode(arguments), StandardCharsets.UTF_8)));
        // "_zentaro" names keep the thread out of its own recording.
        Thread recorder = new Thread(() -> record(settings), "_zentaro recorder");
        recorder.setDaemon(true);
        recorder.start();
    }

    private static void record(Properties settings) {
        String outcome = "ok";
        try {
            JvmtiCallee.setFilters(RecordingSettings.list(settings, "filter"), RecordingSettings.flag(settings, "invert"),
                                   RecordingSettings.list(settings, "ignore"),
                                   RecordingSettings.flag(settings, "agentClasses"));
            for (NetioRegistration netio : NetioRegistration.read(settings)) {
                JvmtiCallee.addNetioClass(netio.className, netio.methodNames(), netio.methodSignatures());
            }
            JvmtiCallee.record(Long.parseLong(settings.getProperty("millis")), RecordingSettings.flag(settings, "transactions"),
                               RecordingSettings.flag(settings, "agentThreads"),
                               JvmtiCallee.fileName(settings.getProperty("file")));
        } catch (Throwable failure) {
            outcome = failure.toString();
        }
        try {
            Files.write(Paths.get(settings.getProperty("marker")), outcome.getBytes(StandardCharsets.UTF_8));
        } catch (IOException ignored) {
            // the recorder then reports that the JVM never finished
        }
    }
}
