'''An emulated Shearwater Perdix 2 for the mock BlueZ (bluez_mock.py, "peripheral": "shearwater"):
the real computer's serial-link GATT service and the protocol of libdivecomputer's Shearwater
Petrel family, so that the real libdivecomputer (0.8.0 and 0.9.0) downloads from it through the
library's BLE stream.

GATT: the service fe25c237-0ece-443c-b0aa-e02033e7029d with one characteristic,
27b7570b-359e-45a3-91bb-cf7e70049bd2, written by the host and notifying the replies.

Each write and each notification is one frame: [frame count, frame index], then at most 30 bytes
of a SLIP stream (END 0xC0, ESC 0xDB, ESC_END 0xDC, ESC_ESC 0xDD). A SLIP packet is a request
[0xFF 0x01 length+1 0x00 payload] or a reply [0x01 0xFF length+1 0x00 payload]. The computer
answers:
  22 id(2)                      read data by identifier: 62 id(2) value, or 7F 22 31 if unknown
                                (8010 serial as 8 hex digits, 8011 firmware "V92", 8021 log
                                upload: the logbook format at 80000000, 8050 hardware C407,
                                1F0A as a Teric)
  2E id(2) value                write data by identifier: 6E id(2) (9020 turns the computer off:
                                the host expects no reply and gets none)
  35 flags 34 address(4) size(3)  start a transfer: 75 10 FC; flags 10 asks for compression
  36 block                      the next block, numbered from 1: 76 block data (at most 252 bytes)
  37                            end the transfer: 77 00
The manifest (address E0000000, 0x600 bytes, uncompressed) holds one 32-byte record per dive,
newest first: A5C4, number(2), start time(4, the fingerprint), end time(4), ..., dive address(4)
at 20; unused records are erased flash (FF). A dive (address 80000000 + its address) is a Petrel
Native Format log of 32-byte records (opening 0-5, samples, a bookmark, closing 0-4, final),
compressed: each byte XOR the byte 32 before it, then 9-bit codes (1 and a byte, or 0 and a run
of zero bytes; 0 ends), each block a whole number of 9-byte groups.

The device description's options:
  "expected"      path of a JSON file to write: the serial, the newest dive's fingerprint (hex)
                  and the dives as the Java objects must hold them, in download order, for the
                  built-in logbook with their details as libdivecomputer 0.8 and 0.9 parse them
  "model"         "Teric" for a Teric, whose logs hold a time zone (default "Perdix 2")
  "dives"         a number: a generated logbook of that many long dives instead of the four
                  built-in ones (three open circuit, the newest closed circuit)

`shearwater_petrel.py --scenario` prints the closed-circuit dive as a dcsim scenario
(tests/scenarios/closed_circuit_trimix.txt), `--scenario-details` the details dcsim must give for
it (JSON, as "expected" writes them).
  "corrupt_reply" the reply of that number (from 1, counted per connection) comes with a SLIP
                  escape of END, a protocol violation
  "short_reply"   the reply of that number comes as a 1-byte notification
  "silent_after"  the computer answers this many requests per connection, then nothing
'''

import calendar
import datetime
import json

SERVICE_UUID = 'fe25c237-0ece-443c-b0aa-e02033e7029d'
DATA_UUID = '27b7570b-359e-45a3-91bb-cf7e70049bd2'
CHARACTERISTIC = 'org.bluez.GattCharacteristic1'
DATA_FLAGS = ['write-without-response', 'write', 'notify']

END, ESC, ESC_END, ESC_ESC = 0xC0, 0xDB, 0xDC, 0xDD
FRAME = 32
BLOCK = 252

SERIAL = '1A2B3C4D'
FIRMWARE = b'V92'
# The models it can be: hardware type, libdivecomputer's model number, and the time zone its logs
# hold (UTC offset in minutes, daylight saving hours), which only the Teric records.
MODELS = {
    'Perdix 2': (0xC407, 11, None),
    'Teric': (0x1F0A, 8, (-300, 1)),
}
MANIFEST_ADDRESS = 0xE0000000
MANIFEST_SIZE = 0x600
LOG_BASE = 0x80000000

# libdivecomputer's units, for the values it reports.
PSI = (0.45359237 * 9.80665) / (0.0254 * 0.0254)
BAR = 100000.0
BOOKMARK = 8        # SAMPLE_EVENT_BOOKMARK


def u16(value):
    return value.to_bytes(2, 'big')


def u32(value):
    return value.to_bytes(4, 'big')


def record(kind, fields):
    '''A 32-byte log record: its type, then bytes at the given offsets.'''
    data = bytearray(32)
    data[0] = kind
    for offset, value in fields.items():
        data[offset:offset + len(value)] = value
    return bytes(data)


def pressure_units(bar):
    '''A tank pressure as the computer stores it: 2 psi units.'''
    return round(bar * BAR / (2 * PSI))


def bar(units):
    '''A stored tank pressure as libdivecomputer reports it.'''
    return units * 2 * PSI / BAR


class Dive:
    '''One open-circuit dive (log version 9): a profile of (seconds, metres) corners, sampled every
    `interval` seconds, on one or two mixes, with or without a transmitter on T1.'''

    GF = (30, 70)
    ATMOSPHERIC = 1013      # mbar
    DENSITY = 1025
    LOGVERSION = 9
    CALIBRATION = None      # no cells
    NAMES = None            # transmitters not named (log version 13 names them)

    def __init__(self, start, interval, corners, mixes, switch=None, temperatures=(24, 18),
                 tank=None, bookmark=None):
        self.start = start
        self.interval = interval
        self.corners = corners
        self.mixes = mixes          # (oxygen, helium) percentages of the open-circuit gases
        self.switch = switch        # seconds from which the second mix is breathed
        self.temperatures = temperatures
        self.tank = tank            # (start bar, end bar) of the transmitter on T1
        self.bookmark = bookmark    # seconds of the sample the diver tagged
        self.duration = corners[-1][0]

    def depth(self, time):
        for (t0, d0), (t1, d1) in zip(self.corners, self.corners[1:]):
            if t0 <= time <= t1:
                return d0 + (d1 - d0) * (time - t0) / (t1 - t0)
        return 0.0

    def ticks(self):
        # The computer keeps local time as if it were UTC.
        return calendar.timegm(self.start.timetuple())

    def slots(self):
        '''The ten fixed mixes (five open circuit, five diluents) and the mask of those on.'''
        mixes = [self.mixes[i] if i < len(self.mixes) else (0, 0) for i in range(5)]
        return mixes + [(21, 0)] + [(0, 0)] * 4, (1 << len(self.mixes)) - 1  # air diluent, off

    closed_circuit = False
    aimode = property(lambda self: 1 if self.tank else 0)   # T1 only
    bearing = 0xFFFFFFFF    # no compass heading with the bookmark
    tag = 1                 # the bookmark's number

    def steps(self):
        '''What the computer records at each sample time.'''
        deepest = max(depth for _, depth in self.corners)
        surface, bottom = self.temperatures
        result = []
        for time in range(self.interval, self.duration + 1, self.interval):
            decimetres = round(self.depth(time) * 10)
            pressure = None
            if self.tank:
                pressure = pressure_units(
                    self.tank[0] + (self.tank[1] - self.tank[0]) * time / self.duration)
            result.append({
                'time': time, 'decimetres': decimetres,
                'degrees': round(surface + (bottom - surface) * decimetres / (deepest * 10)),
                'loop': False, 'voted': 32, 'cells': None, 'setpoint': None,
                'mix': self.mixes[1 if self.switch is not None and time >= self.switch else 0],
                'cns': min(time // 60, 100), 'stop': 0, 'stop_time': 99, 'tts': 0,
                'pressures': [pressure, None, None], 'rbt': 0xFF})
        return result

    def log(self, model='Perdix 2'):
        '''The dive as the computer (of MODELS) stores it, uncompressed.'''
        _, number, zone = MODELS[model]
        slots, enabled = self.slots()
        oxygen = bytes(o2 for o2, _ in slots)
        helium = bytes(he for _, he in slots)
        cells = b'\x00'
        if self.CALIBRATION:
            cells = b'\x07' + b''.join(u16(c) for c in self.CALIBRATION)
        records = [
            record(0x10, {4: bytes(self.GF), 8: b'\x00', 12: u32(self.ticks()), 20: oxygen,
                          30: helium[:2]}),
            record(0x11, {1: helium[2:], 16: u16(self.ATMOSPHERIC)}),
            record(0x12, {18: b'\x00'}),     # GF
            record(0x13, {3: u16(self.DENSITY), 6: cells}),
            record(0x14, {1: bytes([0 if self.closed_circuit else 1]),   # CC or OC tec
                          16: bytes([self.LOGVERSION]), 17: u16(enabled),
                          28: bytes([self.aimode])}),
            record(0x15, {23: u16(self.interval * 1000), 26: u32(zone[0] & 0xFFFFFFFF),
                          30: bytes([zone[1]])} if zone else {23: u16(self.interval * 1000)}),
        ]
        if self.NAMES:
            t1, t2, t3 = (b'\x01' + name.encode().ljust(2, b'\x00') for name in self.NAMES)
            records += [record(0x16, {19: t1 + t2}), record(0x17, {1: t3})]
        steps = self.steps()
        for step in steps:
            o2, he = step['mix']
            cells = step['cells'] or [0, 0, 0]
            t1, t2, t3 = (0xFFFF if p is None else p for p in step['pressures'])
            records.append(record(0x01, {
                1: u16(step['decimetres']), 3: u16(step['stop']), 5: u16(step['tts']),
                7: bytes([step['voted'], o2, he, step['stop_time']]),
                12: bytes([0x00 if step['loop'] else 0x10, cells[0], step['degrees'] & 0xFF,
                           cells[1], cells[2]]),
                19: bytes([step['setpoint'] or 0]), 20: u16(t2),
                22: bytes([step['rbt'], step['cns']]), 28: u16(t1)}))
            if self.LOGVERSION >= 13:
                records.append(record(0xE1, {1: u16(t3) + u16(0xFFFF)}))
            if step['time'] == self.bookmark:
                records.append(record(0x30, {1: bytes([38]), 4: u32(self.ticks() + step['time']),
                                             8: u32(self.bearing), 12: u32(self.tag)}))
        deepest = max(step['decimetres'] for step in steps)
        records += [record(0x20, {4: u16(deepest), 6: self.duration.to_bytes(3, 'big')})]
        records += [record(kind, {}) for kind in (0x21, 0x22, 0x23, 0x24)]
        records.append(record(0xFF, {2: u32(int(SERIAL, 16)), 10: b'\x92', 13: bytes([number])}))
        return b''.join(records)

    def expected(self, details, model='Perdix 2'):
        '''The dive as the Java objects hold it, with its details by release if asked.'''
        steps = self.steps()
        oxygen, helium = steps[0]['mix']
        return {
            'dateTime': self.start.strftime('%Y-%m-%d %H:%M:%S'),
            'diveTime': self.duration,
            'maxDepth': max(step['decimetres'] for step in steps) / 10.0,
            'oxygen': oxygen,
            'helium': helium,
            'time': [step['time'] for step in steps],
            'depth': [step['decimetres'] / 10.0 for step in steps],
            'pressure': [None if step['pressures'][0] is None else bar(step['pressures'][0])
                         for step in steps],
            'temperature': [step['degrees'] for step in steps],
            'event': [BOOKMARK if step['time'] == self.bookmark else None for step in steps],
            'details': {release: self.details(release, model) for release in ('0.8', '0.9')}
            if details else None,
        }

    def mix_list(self, release):
        '''The mixes as the release's parser lists them: (oxygen, helium, diluent slot). 0.8
        lists every fixed slot with a gas; 0.9 only those on, and diluents only on the loop.'''
        slots, enabled = self.slots()
        return [(o2, he, i >= 5) for i, (o2, he) in enumerate(slots)
                if (o2 or he) and (release == '0.8' or (
                    enabled & (1 << i) and (i < 5 or self.closed_circuit)))]

    def details(self, release, model='Perdix 2'):
        '''The dive's details as the release's Shearwater backend parses them (see
        RealBleDownloadTest.render): header fields, mixes, tanks, then each sample kind as
        [time sample index, values...].'''
        older = release == '0.8'
        zone = MODELS[model][2]
        mixes = self.mix_list(release)
        steps = self.steps()
        tanks = []
        for k in range(3):
            pressures = [step['pressures'][k] for step in steps if step['pressures'][k]]
            if pressures:
                usage = 'NONE'
                if self.NAMES:
                    usage = {'D': 'DILUENT', 'O': 'OXYGEN'}.get(self.NAMES[k][0], 'NONE')
                tanks.append([None, 'NONE', 0.0, 0.0, bar(pressures[0]), bar(pressures[-1]),
                              None if older else usage])
        indices = [k for k in range(3) if any(step['pressures'][k] for step in steps)]
        samples = {kind: [] for kind in ('depth', 'temperature', 'ppo2', 'setpoint', 'cns',
                                         'gasmix', 'deco', 'pressure', 'bearing', 'event')}
        current = None
        for i, step in enumerate(steps):
            samples['depth'].append([i, step['decimetres'] / 10.0])
            samples['temperature'].append([i, float(step['degrees'])])
            if step['loop']:
                if not older:
                    samples['ppo2'].append([i, -1, step['voted'] / 100.0])
                for sensor, (mv, factor) in enumerate(zip(step['cells'], self.CALIBRATION)):
                    samples['ppo2'].append([i, -1 if older else sensor, mv * (factor / 100000.0)])
                samples['setpoint'].append([i, step['setpoint'] / 100.0])
            samples['cns'].append([i, step['cns'] / 100.0])
            mix = step['mix'] + (step['loop'],)
            if mix != current:
                current = mix
                samples['gasmix'].append([i, mixes.index(mix)])
            samples['deco'].append([i, 2 if step['stop'] else 0, step['stop_time'] * 60,
                                    float(step['stop']), -1 if older else step['tts'] * 60])
            for k, units in enumerate(step['pressures']):
                if units:
                    samples['pressure'].append([i, indices.index(k), bar(units)])
            if step['time'] == self.bookmark:
                if self.bearing != 0xFFFFFFFF:
                    samples['bearing'].append([i, self.bearing])
                samples['event'].append([i, BOOKMARK, 0, 0, self.tag])
        return {
            'timezone': zone and zone[0] * 60 + zone[1] * 3600,
            'diveMode': 'CLOSED_CIRCUIT' if self.closed_circuit else 'OPEN_CIRCUIT',
            'decoModel': ['BUHLMANN', 0, self.GF[0], self.GF[1]],
            'water': 'SALT', 'density': float(self.DENSITY),
            'atmospheric': self.ATMOSPHERIC / 1000.0, 'averageDepth': None,
            'temperatures': [None, None, None], 'location': None,
            'gasMixes': [[o2 / 100.0, he / 100.0, None if older else
                          'DILUENT' if diluent else 'NONE'] for o2, he, diluent in mixes],
            'tanks': tanks,
            'samples': dict(samples, times=[step['time'] for step in steps], rbt=[],
                            heartRate=[]),
        }


class CcrDive(Dive):
    '''A closed-circuit trimix dive of a Perdix 2 at log version 13: open-circuit bailout mixes
    18/45, 50/0 and 100/0 and the diluent 10/50 (all enabled), three cells calibrated, setpoint
    0.7 switched to 1.3 on the way down, three transmitters named for their use (D, O and B on
    T1, T2 and T3), Buehlmann GF 30/70 and decompression. At 21 m the diver bails out onto the
    50 % and at 6 m onto the oxygen, so the last stops are open circuit.'''

    MIXES = [(18, 45), (50, 0), (100, 0)]        # open-circuit slots 1 to 3
    DILUENTS = [(10, 50)]                        # diluent slot 1
    CALIBRATION = (2250, 2310, 2190)             # per cell, 1/100000 bar per mV
    NAMES = ('D', 'O', 'B1')
    STOPS = [(21, 60), (18, 60), (15, 120), (12, 120), (9, 180), (6, 420), (3, 300)]
    ATMOSPHERIC = 1009
    LOGVERSION = 13
    LOCATION = (35.89216, 14.55883)              # the scenario's, which no Shearwater log holds
    closed_circuit = True
    aimode = 5              # transmitters on
    bearing = 245
    tag = 2

    def __init__(self, start):
        corners = [(0, 0.0), (180, 60.0), (1320, 60.0), (1320 + 260, 21.0)]
        for depth, seconds in self.STOPS:
            corners.append((corners[-1][0] + seconds, float(depth)))
            corners.append((corners[-1][0] + 20, max(depth - 3, 0)))
        super().__init__(start, 10, corners, self.MIXES, bookmark=1200)

    def average_depth(self):
        '''The scenario's average depth (metres, two decimals).'''
        steps = self.steps()
        return round(sum(step['decimetres'] for step in steps) / len(steps) / 10.0, 2)

    @staticmethod
    def heart_rate(step):
        '''The scenario's heart rate at a step: faster deeper.'''
        return round(62 + 20 * step['decimetres'] / 600)

    def slots(self):
        return self.MIXES + [(0, 0)] * 2 + self.DILUENTS + [(0, 0)] * 4, 0x27

    def deco(self, time):
        '''(ceiling m, minutes, minutes to surface): a no-stop limit that runs out on the bottom,
        then the next stop not yet done, its time left and the time to surface.'''
        if time < 480:
            return 0, 8 - time // 60, 0
        if time >= self.duration - 20:
            return 0, 99, 0
        for (arrive, depth), (leave, _) in zip(self.corners[3::2], self.corners[4::2]):
            if time < leave:
                left = leave - max(time, arrive)
                return int(depth), (left + 59) // 60, (self.duration - time + 59) // 60
        return 3, 1, 1

    def steps(self):
        result = []
        ascent = self.corners[3][0]
        bailout = next(t for t, d in self.corners if t > ascent and d == 21.0)
        oxygen = next(t for t, d in self.corners if t > ascent and d == 6.0)
        for time in range(self.interval, self.duration + 1, self.interval):
            metres = self.depth(time)
            loop = time < bailout
            setpoint, cells, voted = None, None, 0
            if loop:
                mix = self.DILUENTS[0]
                setpoint = 70 if metres < 10 and time < 600 else 130
                cells = [round(setpoint / 100 / (c / 100000.0)) + k - 1
                         for k, c in enumerate(self.CALIBRATION)]
                voted = round(sum(mv * (c / 100000.0)
                                  for mv, c in zip(cells, self.CALIBRATION)) / 3 * 100)
            else:
                mix = self.MIXES[2] if time >= oxygen else self.MIXES[1]
            stop, stop_time, tts = self.deco(time)
            bottom = min(1.0, time / 1320)
            result.append({
                'time': time, 'decimetres': round(metres * 10),
                'degrees': round(24 - 13 * metres / 60),
                'loop': loop, 'voted': voted, 'cells': cells, 'setpoint': setpoint, 'mix': mix,
                'cns': round(5 + 40 * time / self.duration),
                'stop': stop, 'stop_time': stop_time, 'tts': tts,
                'pressures': [pressure_units(200 - 35 * bottom),
                              pressure_units(200 - 80 * min(1.0, time / bailout)),
                              pressure_units(210 if loop else 210 - 60 * (time - bailout) /
                                             (self.duration - bailout))],
                'rbt': 0xFD,    # not available on the loop
            })
        return result


def decimal(value, places=4):
    '''A number as a scenario writes it: at most `places` decimals, no trailing zeros.'''
    text = f'{value:.{places}f}'.rstrip('0').rstrip('.')
    return text if text != '-0' else '0'


# The comment that opens the scenario file.
SCENARIO_HEADER = '''\
# A closed-circuit trimix dive to 60 m as libdivecomputer 0.9 parses it from a Shearwater
# Petrel 2 (family Shearwater Petrel, log version 13): written by
# `tests/ble/shearwater_petrel.py --scenario`, from the same dive the emulated Perdix 2 of
# the real-library tests holds, so every value and the order of the samples in each time
# step are the real backend's: time, depth, temperature, on the loop the voted ppO2
# (no sensor) and the three cells, the setpoint, CNS, a gas switch when the mix changes,
# the deco status (no-stop limit or ceiling, with the time to surface), the transmitters'
# pressures in 2 psi steps, and a bookmark with its compass heading. The diver bails out
# onto the 50 % at 21 m and onto oxygen at 6 m, so the last stops are open circuit.
# Shearwater gives no time zone (only the Teric does), no average depth, temperature field,
# location (master reads a GNSS fix of newer models) or heart rate; `avgdepth`, `location`
# and `heartbeat` are added so that the whole dive the diver asked for can be checked.
'''


def scenario(dive):
    '''The closed-circuit dive as a dcsim scenario: the fields and samples libdivecomputer 0.9's
    Shearwater backend gives for it, in its order, and the three things the diver's case in the
    issue names that no Shearwater log holds: an average depth, a GPS fix and a heart rate.'''
    steps = dive.steps()
    mixes = dive.MIXES + dive.DILUENTS
    lines = SCENARIO_HEADER.splitlines() + [
        'devinfo 3 92 %d' % int(SERIAL, 16),
        '',
        'dive',
        'datetime %s none' % dive.start.strftime('%Y-%m-%d %H:%M:%S'),
        'divetime %d' % dive.duration,
        'maxdepth %s' % decimal(max(step['decimetres'] for step in steps) / 10.0),
        'avgdepth %s' % decimal(dive.average_depth(), 2),
        'salinity salt %d' % dive.DENSITY,
        'atmospheric %s' % decimal(dive.ATMOSPHERIC / 1000.0),
        'divemode ccr',
        'decomodel buhlmann 0 %d %d' % dive.GF,
        'location %s %s 0' % tuple(decimal(degrees, 5) for degrees in dive.LOCATION),
    ]
    lines += ['mix %d %d%s' % (o2, he, ' diluent' if (o2, he) in dive.DILUENTS else '')
              for o2, he in mixes]
    tanks = list(zip(*[step['pressures'] for step in steps]))
    for pressures, usage in zip(tanks, (' diluent', ' oxygen', '')):
        lines.append('tank none none 0 0 %s %s%s' % (decimal(pressures[0] * 2 * PSI / BAR),
                                                     decimal(pressures[-1] * 2 * PSI / BAR),
                                                     usage))
    mix = None
    for step in steps:
        words = ['time %d' % step['time'], 'depth %s' % decimal(step['decimetres'] / 10.0),
                 'temperature %d' % step['degrees']]
        if step['loop']:
            cells = [c * k / 100000.0 for c, k in zip(step['cells'], dive.CALIBRATION)]
            words.append('ppo2 none %s' % decimal(round(sum(cells) / 3 * 100) / 100.0))
            words += ['ppo2 %d %s' % (i, decimal(v)) for i, v in enumerate(cells)]
            words.append('setpoint %s' % decimal(step['setpoint'] / 100.0))
        words.append('cns %s' % decimal(step['cns'] / 100.0))
        if step['mix'] != mix:
            mix = step['mix']
            words.append('gasmix %d' % mixes.index(mix))
        kind = 'decostop' if step['stop'] else 'ndl'
        words.append('deco %s %d %d %d' % (kind, step['stop_time'] * 60, step['stop'],
                                           step['tts'] * 60))
        words += ['pressure %d %s' % (i, decimal(p * 2 * PSI / BAR))
                  for i, p in enumerate(step['pressures'])]
        words.append('heartbeat %d' % dive.heart_rate(step))
        if step['time'] == dive.bookmark:
            words += ['bearing %d' % dive.bearing, 'event bookmark 0 none %d' % dive.tag]
        lines.append('; '.join(words))
    return '\n'.join(lines) + '\n'


def scenario_details(dive):
    '''The scenario's dive as a dcsim built as 0.9 gives it: what the real 0.9 backend parses from
    the emulated dive, with the scenario's additions. Its numbers are within 0.00005 of the
    scenario's, which writes at most four decimals.'''
    details = dive.details('0.9')
    details['averageDepth'] = dive.average_depth()
    details['location'] = list(dive.LOCATION) + [0.0]
    details['samples']['heartRate'] = [[i, dive.heart_rate(step)]
                                       for i, step in enumerate(dive.steps())]
    return details


CCR_DIVE = CcrDive(datetime.datetime(2024, 6, 4, 8, 0, 0))


def builtin_logbook():
    '''Four dives, newest first: as the manifest lists them.'''
    return [
        CCR_DIVE,
        Dive(datetime.datetime(2024, 6, 3, 14, 0, 0), 10, [(0, 0), (30, 2.0), (60, 0)],
             [(21, 0)]),
        Dive(datetime.datetime(2024, 6, 2, 10, 30, 0), 5,
             [(0, 0), (240, 45.2), (1200, 45.2), (1500, 21.0), (2400, 6.0), (3000, 0)],
             [(18, 45), (50, 0)], switch=1500, temperatures=(22, 12), bookmark=1200),
        Dive(datetime.datetime(2024, 6, 1, 9, 0, 0), 10,
             [(0, 0), (180, 30.0), (2100, 31.5), (2460, 0)], [(32, 0)], tank=(200, 60),
             bookmark=600),
    ]


def generated_logbook(count):
    start = datetime.datetime(2023, 1, 1, 8, 0, 0)
    return [Dive(start + datetime.timedelta(days=count - k), 2,
                 [(0, 0), (300, 20.0 + k % 10), (3300, 18.0), (3600, 0)], [(32, 0)],
                 tank=(210, 50)) for k in range(count)]


def compress(data):
    '''The computer's compression: XOR with the previous 32 bytes, then 9-bit codes in blocks.'''
    mixed = bytes(data[i] ^ (data[i - 32] if i >= 32 else 0) for i in range(len(data)))
    codes = []
    zeros = 0
    for byte in mixed:
        if byte == 0:
            zeros += 1
            if zeros == 255:
                codes.append(zeros)
                zeros = 0
            continue
        if zeros:
            codes.append(zeros)
            zeros = 0
        codes.append(0x100 | byte)
    if zeros:
        codes.append(zeros)
    codes.append(0)
    # A block holds whole groups of 8 codes (9 bytes); the last group is padded with ends.
    while len(codes) % 8:
        codes.append(0)
    per_block = BLOCK // 9 * 8
    return [pack(codes[i:i + per_block]) for i in range(0, len(codes), per_block)]


def pack(codes):
    bits = 0
    for code in codes:
        bits = bits << 9 | code
    return bits.to_bytes(len(codes) * 9 // 8, 'big')


def slip(packet):
    out = bytearray()
    for byte in packet:
        if byte == END:
            out += bytes([ESC, ESC_END])
        elif byte == ESC:
            out += bytes([ESC, ESC_ESC])
        else:
            out.append(byte)
    out.append(END)
    return bytes(out)


def frames(stream):
    '''A SLIP stream cut into notifications, each with its [count, index] header.'''
    size = FRAME - 2
    pieces = [stream[i:i + size] for i in range(0, len(stream), size)]
    return [bytes([len(pieces), index]) + piece for index, piece in enumerate(pieces)]


class Computer:
    '''The computer's end of the link: answer() takes one write and gives the notifications.'''

    def __init__(self, spec):
        self.spec = spec
        self.model = spec.get('model', 'Perdix 2')
        count = spec.get('dives')
        self.logbook = generated_logbook(count) if count else builtin_logbook()
        self.addresses = {0x1000 * (k + 1): dive for k, dive in enumerate(self.logbook)}
        if 'expected' in spec:
            with open(spec['expected'], 'w', encoding='utf-8') as file:
                json.dump({'serial': str(int(SERIAL, 16)), 'model': MODELS[self.model][1],
                           'fingerprint': u32(self.logbook[0].ticks()).hex(),
                           'dives': [dive.expected(not count, self.model)
                                     for dive in self.logbook]}, file)
        self.reconnected()

    def reconnected(self):
        self.slip = bytearray()
        self.escaped = False
        self.blocks = []
        self.manifest_page = 0
        self.replies = 0
        self.requests = 0

    def answer(self, data):
        if len(data) < 2:
            return []
        packets = []
        for byte in data[2:]:
            if self.escaped:
                self.slip.append({ESC_END: END, ESC_ESC: ESC}.get(byte, byte))
                self.escaped = False
            elif byte == ESC:
                self.escaped = True
            elif byte == END:
                if self.slip:
                    packets += self.handle(bytes(self.slip))
                self.slip = bytearray()
            else:
                self.slip.append(byte)
        return packets

    def handle(self, packet):
        if len(packet) < 4 or packet[:2] != b'\xff\x01' or packet[2] != len(packet) - 3:
            return []
        self.requests += 1
        limit = self.spec.get('silent_after')
        if limit is not None and self.requests > limit:
            return []
        payload = self.reply(packet[4:])
        if payload is None:
            return []
        self.replies += 1
        stream = slip(bytes([0x01, 0xFF, len(payload) + 1, 0x00]) + payload)
        if self.replies == self.spec.get('corrupt_reply'):
            stream = stream[:-1] + bytes([ESC, END])
        if self.replies == self.spec.get('short_reply'):
            return [stream[:1]]
        return frames(stream)

    def reply(self, request):
        command = request[0] if request else None
        if command == 0x22 and len(request) == 3:
            value = self.identifier(int.from_bytes(request[1:3], 'big'))
            return b'\x7f\x22\x31' if value is None else b'\x62' + request[1:3] + value
        if command == 0x2E and len(request) >= 3:
            return None if request[1:3] == b'\x90\x20' else b'\x6e' + request[1:3]
        if command == 0x35 and len(request) == 10:
            return self.start_transfer(request[1] & 0x10, int.from_bytes(request[3:7], 'big'))
        if command == 0x36 and len(request) == 2:
            if request[1] == 0 or request[1] > len(self.blocks):
                return b'\x7f\x36\x31'
            return bytes([0x76, request[1]]) + self.blocks[request[1] - 1]
        if command == 0x37:
            self.blocks = []
            return b'\x77\x00'
        return bytes([0x7F, command or 0, 0x11])

    def identifier(self, number):
        return {
            0x8010: SERIAL.encode(),
            0x8011: FIRMWARE,
            0x8021: b'\x01' + u32(LOG_BASE) + u32(0),
            0x8050: u16(MODELS[self.model][0]),
        }.get(number)

    def start_transfer(self, compressed, address):
        if address == MANIFEST_ADDRESS and not compressed:
            data = self.manifest(self.manifest_page)
            self.manifest_page += 1
            self.blocks = [data[i:i + BLOCK] for i in range(0, len(data), BLOCK)]
        elif address - LOG_BASE in self.addresses and compressed:
            self.blocks = compress(self.addresses[address - LOG_BASE].log(self.model))
        else:
            return b'\x7f\x35\x31'
        return b'\x75\x10' + bytes([BLOCK])

    def manifest(self, page):
        count = MANIFEST_SIZE // 32
        entries = list(self.addresses.items())[page * count:(page + 1) * count]
        data = b''.join(
            u16(0xA5C4) + u16(len(self.logbook) - page * count - k) + u32(dive.ticks())
            + u32(dive.ticks() + dive.duration) + bytes(8) + u32(address) + bytes(8)
            for k, (address, dive) in enumerate(entries))
        return data + b'\xff' * (MANIFEST_SIZE - len(data))


def add_gatt(mock, peripheral, path):
    '''The computer's GATT service; its one characteristic is at `path` + "/char0013".'''
    # Here, so that --scenario needs no D-Bus.
    import dbus
    import dbusmock

    mock.AddObject(path, 'org.bluez.GattService1', {
        'UUID': dbus.String(SERVICE_UUID), 'Primary': dbus.Boolean(True),
        'Device': dbus.ObjectPath(peripheral.path)}, [])
    mock.AddObject(path + '/char0013', CHARACTERISTIC, {
        'UUID': dbus.String(DATA_UUID), 'Service': dbus.ObjectPath(path),
        'Flags': dbus.Array(DATA_FLAGS, signature='s'), 'Notifying': dbus.Boolean(False)}, [])
    data = dbusmock.get_object(path + '/char0013')

    def write_value(self, value, options):
        if not peripheral.connected:
            raise dbus.exceptions.DBusException('Not connected', name='org.bluez.Error.NotConnected')
        peripheral.write(bytes(value))

    data.AddMethod(CHARACTERISTIC, 'WriteValue', 'aya{sv}', '', write_value)
    data.AddMethod(CHARACTERISTIC, 'StartNotify', '', '', lambda self: None)
    data.AddMethod(CHARACTERISTIC, 'StopNotify', '', '', lambda self: None)


if __name__ == '__main__':
    import sys
    if sys.argv[1:] == ['--scenario']:
        sys.stdout.write(scenario(CCR_DIVE))
    elif sys.argv[1:] == ['--scenario-details']:
        json.dump(scenario_details(CCR_DIVE), sys.stdout)
    else:
        sys.exit('usage: shearwater_petrel.py --scenario | --scenario-details')
