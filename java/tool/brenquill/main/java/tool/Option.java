package brenquill.main.java.tool;

/**
 * A command option that takes one value, such as {@code --port NAME}, or a flag, such as
 * {@code --all}, whose valueName is null.
 */
record Option(String name, String valueName, String description) {
    static Option flag(String name, String description) {
        return new Option(name, null, description);
    }

    boolean isFlag() {
        return valueName == null;
    }
}
