package brenquill.main.java.tool;

import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.PrintStream;
import java.util.List;
import java.util.Optional;

/** One sub-command of the tool. */
interface Command {
    String name();

    String summary();

    /** The options this command accepts after its name; each takes a value. */
    List<Option> options();

    /** The free arguments as the help shows them, such as "[TEXT...]" or "FILE"; or none. */
    default Optional<String> operandSynopsis() {
        return Optional.empty();
    }

    /** How many free arguments the command takes at most. */
    default int operands() {
        return 0;
    }

    /**
     * Runs the command and returns the process exit code. A UsageException is a command line that
     * cannot work; an IOException or a CommandFailure carries a message fit for the user as it
     * is. The error stream is for what must not mix with the command's results on the output.
     */
    int run(Arguments arguments, PrintStream out, PrintStream err)
        throws NativeException, UsageException, IOException, CommandFailure;
}
