package brenquill.main.java.tool;

/** A command option that takes one value, such as {@code --port NAME}. */
record Option(String name, String valueName, String description) {}
