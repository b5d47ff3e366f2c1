package brenquill.main.java.core;

import java.util.Objects;

/** Where a dive took place. */
public final class Site {
    private final String name;

    public Site(String name) {
        this.name = Objects.requireNonNull(name, "name");
    }

    public String getName() {
        return name;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof Site && name.equals(((Site) other).name);
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
