package brenquill.main.java.core;

import java.util.Objects;

/** A diver, such as a buddy. */
public final class Person {
    private final String name;

    public Person(String name) {
        this.name = Objects.requireNonNull(name, "name");
    }

    public String getName() {
        return name;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof Person && name.equals(((Person) other).name);
    }

    @Override
    public int hashCode() {
        return name.hashCode();
    }

    @Override
    public String toString() {
        return name;
    }
}
