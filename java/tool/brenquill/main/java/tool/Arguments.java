package brenquill.main.java.tool;

import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;

/**
 * A parsed command line: {@code [--verbose] [--help] [--version] COMMAND [--option VALUE]...
 * [OPERAND]...}, or {@code help [COMMAND]}.
 *
 * <p>The global flags may stand anywhere. Options with values are the command's own, so they are
 * accepted only after the command name; {@code --option=value} is the same as {@code --option
 * value}, and everything after {@code --} is an operand.
 */
final class Arguments {
    private final Command command;
    private final boolean help;
    private final boolean verbose;
    private final boolean version;
    private final Map<String, String> values;
    private final List<String> operands;

    private Arguments(Command command, boolean help, boolean verbose, boolean version,
                      Map<String, String> values, List<String> operands) {
        this.command = command;
        this.help = help;
        this.verbose = verbose;
        this.version = version;
        this.values = Collections.unmodifiableMap(values);
        this.operands = List.copyOf(operands);
    }

    static Arguments parse(String[] args, List<Command> commands) throws UsageException {
        Command command = null;
        boolean help = false;
        boolean verbose = false;
        boolean version = false;
        boolean optionsEnded = false;
        Map<String, String> values = new LinkedHashMap<>();
        List<String> operands = new ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            String arg = args[i];
            if (!optionsEnded && arg.equals("--")) {
                optionsEnded = true;
            } else if (!optionsEnded && arg.equals("--verbose")) {
                verbose = true;
            } else if (!optionsEnded && (arg.equals("--help") || arg.equals("-h"))) {
                help = true;
            } else if (!optionsEnded && arg.equals("--version")) {
                version = true;
            } else if (!optionsEnded && arg.startsWith("-") && !arg.equals("-")) {
                int equals = arg.indexOf('=');
                String name = equals > 0 ? arg.substring(0, equals) : arg;
                Option option = command == null ? null : findOption(command, name);
                if (option == null) {
                    throw new UsageException("unknown option '" + name + "'", command);
                }
                String value;
                if (option.isFlag()) {
                    if (equals > 0) {
                        throw new UsageException(name + " takes no value", command);
                    }
                    value = "";
                } else if (equals > 0) {
                    value = arg.substring(equals + 1);
                } else if (i + 1 == args.length) {
                    throw new UsageException(name + " needs a value (" + option.valueName() + ")",
                                             command);
                } else {
                    value = args[++i];
                }
                if (values.put(name, value) != null) {
                    throw new UsageException(name + " is given twice", command);
                }
            } else if (command == null && arg.equals("help") && !help) {
                help = true;
            } else if (command == null) {
                command = findCommand(commands, arg);
            } else if (operands.size() < command.operands()) {
                operands.add(arg);
            } else {
                throw new UsageException("unexpected argument '" + arg + "'", command);
            }
        }
        return new Arguments(command, help, verbose, version, values, operands);
    }

    private static Command findCommand(List<Command> commands, String name)
        throws UsageException {
        for (Command command : commands) {
            if (command.name().equals(name)) {
                return command;
            }
        }
        throw new UsageException("unknown command '" + name + "'", null);
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

    boolean version() {
        return version;
    }

    /** The command's free arguments, in their order. */
    List<String> operands() {
        return operands;
    }

    /** The command's one free argument, when given. */
    Optional<String> operand() {
        return operands.stream().findFirst();
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
