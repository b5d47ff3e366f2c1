package brenquill.main.java.tool;

import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.PrintStream;
import java.util.List;

/** One sub-command of the tool. */
interface Command {
    String name();

    String summary();

    /** The options this command accepts after its name; each takes a value. */
    List<Option> options();

    /**
     * Runs the command and returns the process exit code. A UsageException is a command line that
     * cannot work; an IOException or a CommandFailure carries a message fit for the user as it
     * is. The error stream is for what must not mix with the command's results on the output.
     */
    int run(Arguments arguments, PrintStream out, PrintStream err)
        throws NativeException, UsageException, IOException, CommandFailure;
}
