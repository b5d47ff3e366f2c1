package brenquill.main.java.tool;

import java.util.ArrayList;
import java.util.List;

/** The tool's help texts, wrapped and aligned within 80 columns. */
final class Help {
    private static final int COLUMNS = 80;
    // The column of the descriptions, after the longest name that still leaves them room.
    private static final int WIDEST_NAME = 20;

    private Help() {}

    /** The tool's help: its commands and global options. */
    static String of(List<Command> commands) {
        StringBuilder text = new StringBuilder();
        text.append("Usage: ").append(Main.NAME).append(" [--verbose] COMMAND [OPTIONS]\n");
        text.append("       ").append(Main.NAME).append(" help [COMMAND] | --version\n\n");
        text.append("Commands:\n");
        List<String[]> rows = new ArrayList<>();
        for (Command command : commands) {
            rows.add(new String[] {synopsis(command), command.summary()});
        }
        rows.add(new String[] {"help [COMMAND]", "Print this help, or a command's options."});
        table(text, rows);
        text.append("\nOptions:\n");
        table(text, List.of(
            new String[] {"--verbose", "Show the library's own lines and the full trace of a "
                                           + "failure."},
            new String[] {"--version", "Print the versions of the tool and of libdivecomputer."},
            new String[] {"--help", "Print this help."}));
        text.append("\nSee '").append(Main.NAME).append(" COMMAND --help' for a command's "
                                                          + "options.\n");
        return text.toString();
    }

    /** One command's help: its synopsis, what it does and its options. */
    static String of(Command command) {
        StringBuilder text = new StringBuilder();
        text.append("Usage: ").append(Main.NAME).append(" [--verbose] ").append(command.name())
            .append(command.options().isEmpty() ? "" : " [OPTIONS]")
            .append(command.operandSynopsis().map(operand -> " " + operand).orElse(""))
            .append("\n\n");
        wrap(text, command.summary(), 0, 0);
        if (!command.options().isEmpty()) {
            text.append("\nOptions:\n");
            List<String[]> rows = new ArrayList<>();
            for (Option option : command.options()) {
                rows.add(new String[] {option.isFlag() ? option.name()
                                                       : option.name() + " " + option.valueName(),
                                       option.description()});
            }
            table(text, rows);
        }
        return text.toString();
    }

    private static String synopsis(Command command) {
        return command.name() + command.operandSynopsis().map(operand -> " " + operand).orElse("");
    }

    /** Names in a column two spaces in, each description wrapped in a column of its own. */
    private static void table(StringBuilder text, List<String[]> rows) {
        int width = 0;
        for (String[] row : rows) {
            if (row[0].length() <= WIDEST_NAME) {
                width = Math.max(width, row[0].length());
            }
        }
        int indent = 2 + width + 2;
        for (String[] row : rows) {
            text.append("  ").append(row[0]);
            if (row[0].length() > width) {
                // A name too long for the column has its description on the lines below.
                text.append('\n');
                wrap(text, row[1], indent, 0);
            } else {
                text.append(" ".repeat(width - row[0].length() + 2));
                wrap(text, row[1], indent, indent);
            }
        }
    }

    /**
     * Appends the words of {@code paragraph} in lines of at most 80 columns, the first starting
     * at column {@code first} (already reached), the others indented by {@code indent}.
     */
    private static void wrap(StringBuilder text, String paragraph, int indent, int first) {
        int column = first;
        boolean lineStart = true;
        if (first < indent) {
            text.append(" ".repeat(indent - first));
            column = indent;
        }
        for (String word : paragraph.split("\\s+")) {
            if (word.isEmpty()) {
                continue;
            }
            if (!lineStart && column + 1 + word.length() > COLUMNS) {
                text.append('\n').append(" ".repeat(indent));
                column = indent;
                lineStart = true;
            }
            if (!lineStart) {
                text.append(' ');
                column++;
            }
            text.append(word);
            column += word.length();
            lineStart = false;
        }
        text.append('\n');
    }
}
