package com.zentaro.recorder;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Properties;

/**
 * The methods of one class that count as network I/O. The agent keeps one registration per class
 * (a later one replaces an earlier), so all methods of a class are gathered here first.
 */
final class NetioRegistration {
    /** The JDK's socket and channel reads. */
    static final String[] defaults = {
        "sun.nio.ch.NioSocketImpl#read", "sun.nio.ch.NioSocketImpl#timedRead", "sun.nio.ch.SocketChannelImpl#read",
        "sun.nio.ch.DatagramChannelImpl#receive", "java.net.SocketInputStream#read",
    };

    final String className;
    /** null: every method of the class; otherwise "name" or "name#signature" entries. */
    List<String> methods = new ArrayList<>();

    private NetioRegistration(String className) {
        this.className = className;
    }

    /** Groups CLASS[#METHOD[#SIGNATURE]] arguments by class. */
    static List<NetioRegistration> group(List<String> arguments) {
        Map<String, NetioRegistration> byClass = new LinkedHashMap<>();
        for (String argument : arguments) {
            String[] parts = argument.split("#", 2);
            NetioRegistration registration = byClass.computeIfAbsent(parts[0], NetioRegistration::new);
            if (parts.length == 1) {
                registration.methods = null;
            } else if (registration.methods != null && !registration.methods.contains(parts[1])) {
                registration.methods.add(parts[1]);
            }
        }
        return new ArrayList<>(byClass.values());
    }

    String[] methodNames() {
        return part(0);
    }

    String[] methodSignatures() {
        return part(1);
    }

    private String[] part(int index) {
        if (methods == null) {
            return null;
        }
        String[] values = new String[methods.size()];
        for (int i = 0; i < values.length; i++) {
            String[] parts = methods.get(i).split("#", 2);
            values[i] = index < parts.length ? parts[index] : null;
        }
        return values;
    }

    static void write(Properties settings, List<NetioRegistration> registrations) {
        settings.setProperty("netio.count", String.valueOf(registrations.size()));
        for (int i = 0; i < registrations.size(); i++) {
            NetioRegistration registration = registrations.get(i);
            settings.setProperty("netio." + i + ".class", registration.className);
            if (registration.methods != null) {
                RecordingSettings.putList(settings, "netio." + i + ".method", registration.methods);
            }
        }
    }

    static List<NetioRegistration> read(Properties settings) {
        List<NetioRegistration> registrations = new ArrayList<>();
        int count = Integer.parseInt(settings.getProperty("netio.count", "0"));
        for (int i = 0; i < count; i++) {
            NetioRegistration registration = new NetioRegistration(settings.getProperty("netio." + i + ".class"));
            if (settings.getProperty("netio." + i + ".method.count") == null) {
                registration.methods = null;
            } else {
                registration.methods = List.of(RecordingSettings.list(settings, "netio." + i + ".method"));
            }
            registrations.add(registration);
        }
        return registrations;
    }
}
