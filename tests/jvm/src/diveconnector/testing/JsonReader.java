package diveconnector.testing;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;

/**
 * A strict reader of RFC 8259 JSON, enough to check what the tool writes: objects become maps in
 * their order, arrays lists, strings strings, literals Boolean or null, and numbers a
 * {@link Number} record with their exact text, so a test can read them back as the float they
 * were written from.
 */
public final class JsonReader {
    /** A JSON number as it was written. */
    public record Number(String text) {}

    private static final Pattern NUMBER =
        Pattern.compile("-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?");

    private final String text;
    private int at;

    private JsonReader(String text) {
        this.text = text;
    }

    /** The value of a whole document; IllegalArgumentException if it is not valid JSON. */
    public static Object read(String text) {
        JsonReader reader = new JsonReader(text);
        Object value = reader.value();
        reader.skipSpace();
        if (reader.at != text.length()) {
            throw reader.error("text after the value");
        }
        return value;
    }

    private IllegalArgumentException error(String problem) {
        return new IllegalArgumentException(problem + " at offset " + at + ": "
                                            + text.substring(at, Math.min(text.length(), at + 40)));
    }

    private void skipSpace() {
        while (at < text.length() && " \t\n\r".indexOf(text.charAt(at)) >= 0) {
            at++;
        }
    }

    private void expect(char c) {
        skipSpace();
        if (at == text.length() || text.charAt(at) != c) {
            throw error("expected '" + c + "'");
        }
        at++;
    }

    private boolean next(char c) {
        skipSpace();
        if (at < text.length() && text.charAt(at) == c) {
            at++;
            return true;
        }
        return false;
    }

    private Object value() {
        skipSpace();
        if (at == text.length()) {
            throw error("expected a value");
        }
        char c = text.charAt(at);
        if (c == '{') {
            return object();
        }
        if (c == '[') {
            return array();
        }
        if (c == '"') {
            return string();
        }
        for (String literal : new String[] {"true", "false", "null"}) {
            if (text.startsWith(literal, at)) {
                at += literal.length();
                return literal.equals("null") ? null : Boolean.valueOf(literal);
            }
        }
        int start = at;
        while (at < text.length() && "+-.eE0123456789".indexOf(text.charAt(at)) >= 0) {
            at++;
        }
        String number = text.substring(start, at);
        if (!NUMBER.matcher(number).matches()) {
            at = start;
            throw error("expected a value");
        }
        return new Number(number);
    }

    private Map<String, Object> object() {
        expect('{');
        Map<String, Object> members = new LinkedHashMap<>();
        if (next('}')) {
            return members;
        }
        do {
            skipSpace();
            String name = string();
            expect(':');
            if (members.containsKey(name)) {
                throw error("member " + name + " twice");
            }
            members.put(name, value());
        } while (next(','));
        expect('}');
        return members;
    }

    private List<Object> array() {
        expect('[');
        List<Object> elements = new ArrayList<>();
        if (next(']')) {
            return elements;
        }
        do {
            elements.add(value());
        } while (next(','));
        expect(']');
        return elements;
    }

    private String string() {
        expect('"');
        StringBuilder result = new StringBuilder();
        while (true) {
            if (at == text.length()) {
                throw error("unterminated string");
            }
            char c = text.charAt(at++);
            if (c == '"') {
                return result.toString();
            }
            if (c < 0x20) {
                throw error("unescaped control character");
            }
            if (c != '\\') {
                result.append(c);
                continue;
            }
            if (at == text.length()) {
                throw error("unterminated escape");
            }
            char escape = text.charAt(at++);
            switch (escape) {
                case '"', '\\', '/' -> result.append(escape);
                case 'b' -> result.append('\b');
                case 'f' -> result.append('\f');
                case 'n' -> result.append('\n');
                case 'r' -> result.append('\r');
                case 't' -> result.append('\t');
                case 'u' -> {
                    if (at + 4 > text.length()
                        || !text.substring(at, at + 4).matches("[0-9a-fA-F]{4}")) {
                        throw error("bad \\u escape");
                    }
                    result.append((char) Integer.parseInt(text.substring(at, at + 4), 16));
                    at += 4;
                }
                default -> throw error("unknown escape \\" + escape);
            }
        }
    }
}
