package brenquill.main.java.tool;

import brenquill.main.java.core.exceptions.NativeException;
import java.io.PrintStream;
import java.util.List;

/** One sub-command of the tool. */
interface Command {
    String name();

    String summary();

    /** The options this command accepts after its name; each takes a value. */
    List<Option> options();

    /** Runs the command and returns the process exit code. */
    int run(Arguments arguments, PrintStream out) throws NativeException;
}
