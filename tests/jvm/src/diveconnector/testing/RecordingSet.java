package diveconnector.testing;

import java.util.AbstractSet;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Iterator;
import java.util.List;

/**
 * A set that keeps every element it is given, in order, without comparing them, so a test sees
 * exactly the add calls a download made. It can answer false to every add, or throw at one call.
 */
public final class RecordingSet<E> extends AbstractSet<E> {
    private final List<E> added = new ArrayList<>();
    private final boolean answer;
    private final int throwingCall;
    private int calls;

    private RecordingSet(boolean answer, int throwingCall) {
        this.answer = answer;
        this.throwingCall = throwingCall;
    }

    /** Keeps everything and answers true. */
    public static <E> RecordingSet<E> accepting() {
        return new RecordingSet<>(true, 0);
    }

    /** Keeps everything but answers false, as a set that already held an equal element. */
    public static <E> RecordingSet<E> answeringFalse() {
        return new RecordingSet<>(false, 0);
    }

    /** Throws IllegalStateException at the nth add (1-based), keeping the elements before it. */
    public static <E> RecordingSet<E> throwingAt(int nth) {
        return new RecordingSet<>(true, nth);
    }

    @Override
    public boolean add(E element) {
        if (++calls == throwingCall) {
            throw new IllegalStateException("add number " + calls + " refused");
        }
        added.add(element);
        return answer;
    }

    /** Every add call, the refused one included. */
    public int calls() {
        return calls;
    }

    public List<E> added() {
        return Collections.unmodifiableList(added);
    }

    @Override
    public Iterator<E> iterator() {
        return added().iterator();
    }

    @Override
    public int size() {
        return added.size();
    }
}
