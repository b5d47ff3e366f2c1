package brenquill.main.java.tool;

import java.io.PrintStream;
import java.util.List;

/** Rows of text under headings, in columns two spaces apart and as wide as their widest cell. */
final class TextTable {
    private TextTable() {}

    /** Prints the headings and the rows; a column is aligned left where {@code left} says so. */
    static void print(PrintStream out, String[] headings, boolean[] left, List<String[]> rows) {
        int[] widths = new int[headings.length];
        for (int column = 0; column < widths.length; column++) {
            widths[column] = headings[column].length();
            for (String[] row : rows) {
                widths[column] = Math.max(widths[column], row[column].length());
            }
        }
        printRow(out, headings, left, widths);
        for (String[] row : rows) {
            printRow(out, row, left, widths);
        }
    }

    private static void printRow(PrintStream out, String[] row, boolean[] left, int[] widths) {
        StringBuilder line = new StringBuilder();
        for (int column = 0; column < row.length; column++) {
            String format = "%" + (left[column] ? "-" : "") + widths[column] + "s";
            line.append(column == 0 ? "" : "  ").append(String.format(format, row[column]));
        }
        out.println(line.toString().stripTrailing());
    }
}
