package brenquill.main.java.tool;

import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;

/**
 * A parsed command line: {@code [--verbose] [--help] COMMAND [--option VALUE]... [OPERAND]}.
 *
 * <p>The global flags may stand anywhere. Options with values are the command's own, so they are
 * accepted only after the command name.
 */
final class Arguments {
    private final Command command;
    private final boolean help;
    private final boolean verbose;
    private final Map<String, String> values;
    private final String operand;

    private Arguments(Command command, boolean help, boolean verbose, Map<String, String> values,
                      String operand) {
        this.command = command;
        this.help = help;
        this.verbose = verbose;
        this.values = Collections.unmodifiableMap(values);
        this.operand = operand;
    }

    static Arguments parse(String[] args, List<Command> commands) throws UsageException {
        Command command = null;
        boolean help = false;
        boolean verbose = false;
        Map<String, String> values = new LinkedHashMap<>();
        String operand = null;
        for (int i = 0; i < args.length; i++) {
            String arg = args[i];
            if (arg.equals("--verbose")) {
                verbose = true;
            } else if (arg.equals("--help") || arg.equals("-h")) {
                help = true;
            } else if (arg.startsWith("-")) {
                Option option = command == null ? null : findOption(command, arg);
                if (option == null) {
                    throw new UsageException("unknown option '" + arg + "'");
                }
                if (!option.isFlag() && i + 1 == args.length) {
                    throw new UsageException(arg + " needs a value (" + option.valueName() + ")");
                }
                if (values.put(arg, option.isFlag() ? "" : args[++i]) != null) {
                    throw new UsageException(arg + " is given twice");
                }
            } else if (command == null && arg.equals("help")) {
                help = true;
            } else if (command == null) {
                command = findCommand(commands, arg);
            } else if (operand == null && command.operand().isPresent()) {
                operand = arg;
            } else {
                throw new UsageException("unexpected argument '" + arg + "'");
            }
        }
        return new Arguments(command, help, verbose, values, operand);
    }

    private static Command findCommand(List<Command> commands, String name)
        throws UsageException {
        for (Command command : commands) {
            if (command.name().equals(name)) {
                return command;
            }
        }
        throw new UsageException("unknown command '" + name + "'");
    }

    private static Option findOption(Command command, String name) {
        for (Option option : command.options()) {
            if (option.name().equals(name)) {
                return option;
            }
        }
        return null;
    }

    /** The command to run; empty when none was named. */
    Optional<Command> command() {
        return Optional.ofNullable(command);
    }

    boolean help() {
        return help;
    }

    boolean verbose() {
        return verbose;
    }

    /** The command's free argument, when given. */
    Optional<String> operand() {
        return Optional.ofNullable(operand);
    }

    /** Whether one of the command's flags was given. */
    boolean flag(String option) {
        return values.containsKey(option);
    }

    /** The value given for one of the command's options. */
    Optional<String> value(String option) {
        return Optional.ofNullable(values.get(option));
    }
}
