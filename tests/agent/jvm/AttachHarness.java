import com.sun.tools.attach.VirtualMachine;
import com.zentaro.agent.callee.JvmtiCallee;

/**
 * Attaches the agent library to this very JVM, then calls its natives as the arguments say.
 * Usage: AttachHarness LIBRARY OPTIONS COMMAND...; OPTIONS "-" attaches without options.
 * Commands: attach:OPTIONS, debug:CATEGORY:LEVEL:TEXT, id:NAME (prints the identifier).
 */
public final class AttachHarness {
    public static void main(String[] args) throws Exception {
        String library = args[0];
        attach(library, args[1]);
        for (int i = 2; i < args.length; i++) {
            String[] command = args[i].split(":", 4);
            switch (command[0]) {
            case "attach":
                attach(library, command[1]);
                break;
            case "debug":
                JvmtiCallee.debugOut0(Integer.parseInt(command[1]), Integer.parseInt(command[2]), command[3]);
                break;
            case "id":
                System.out.println("id " + command[1] + " = " + JvmtiCallee.createInterceptionMethodId(command[1]));
                break;
            default:
                throw new IllegalArgumentException(args[i]);
            }
        }
        System.out.println("done");
    }

    private static void attach(String library, String options) throws Exception {
        VirtualMachine vm = VirtualMachine.attach(String.valueOf(ProcessHandle.current().pid()));
        try {
            vm.loadAgentPath(library, options.equals("-") ? null : options);
        } finally {
            vm.detach();
        }
    }
}
