package com.zentaro.recorder;

import java.io.IOException;
import java.io.StringWriter;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.util.Base64;
import java.util.List;
import java.util.Properties;

/** The settings of one recording as they travel to the recorded JVM: properties, in Base64. */
final class RecordingSettings {
    private RecordingSettings() {}

    static String encode(Properties settings) {
        StringWriter text = new StringWriter();
        try {
            settings.store(text, null);
        } catch (IOException impossible) {
            throw new UncheckedIOException(impossible);
        }
        return Base64.getEncoder().encodeToString(text.toString().getBytes(StandardCharsets.UTF_8));
    }

    static void putList(Properties settings, String key, List<String> values) {
        settings.setProperty(key + ".count", String.valueOf(values.size()));
        for (int i = 0; i < values.size(); i++) {
            settings.setProperty(key + "." + i, values.get(i));
        }
    }

    static String[] list(Properties settings, String key) {
        String[] values = new String[Integer.parseInt(settings.getProperty(key + ".count", "0"))];
        for (int i = 0; i < values.length; i++) {
            values[i] = settings.getProperty(key + "." + i);
        }
        return values;
    }

    static boolean flag(Properties settings, String key) {
        return Boolean.parseBoolean(settings.getProperty(key));
    }
}
