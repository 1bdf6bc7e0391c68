#!/usr/bin/python3
"""A small sample application that keeps statements flowing through the profiler.

A few client sessions run a varied mix of statements against a shop database
(tables, inserts, joins, updates, deletes, a failing statement and a slow one),
pausing between statements, then disconnect and come back as new sessions.
It keeps retrying while nothing accepts connections, so it can be started
before the profiler listens.

Runs with Debian's python3 and python3-pymysql:
    /usr/bin/python3 scripts/sample-app.py --port 4040 --user sandbox --database shop
The password is read from $SANDBOX_PASSWORD (or --password).
"""

import argparse
import os
import random
import signal
import sys
import threading
import time

try:
    import pymysql
except ImportError:  # pragma: no cover - reported to the user
    sys.stderr.write("python3-pymysql is missing: run scripts/install-deps.sh\n")
    sys.exit(2)

stop_event = threading.Event()

SCHEMA = [
    """CREATE TABLE IF NOT EXISTS customers (
  id INT AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(64) NOT NULL,
  city VARCHAR(64) NOT NULL,
  created_at TIMESTAMP DEFAULT CURRENT_TIMESTAMP
)""",
    """CREATE TABLE IF NOT EXISTS products (
  id INT AUTO_INCREMENT PRIMARY KEY,
  title VARCHAR(64) NOT NULL,
  price DECIMAL(10,2) NOT NULL,
  stock INT NOT NULL DEFAULT 0
)""",
    """CREATE TABLE IF NOT EXISTS orders (
  id INT AUTO_INCREMENT PRIMARY KEY,
  customer_id INT NOT NULL,
  product_id INT NOT NULL,
  quantity INT NOT NULL,
  status VARCHAR(16) NOT NULL DEFAULT 'new',
  ordered_at TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
  KEY (customer_id), KEY (product_id)
)""",
]

CITIES = ["Lisbon", "Oslo", "Tallinn", "Porto", "Graz", "Lyon", "Ghent", "Turku"]
NAMES = ["Ada", "Boris", "Chloe", "Dmitri", "Elif", "Femi", "Greta", "Hugo", "Iris", "Jonas"]
PRODUCTS = [("Teapot", 24.50), ("Notebook", 3.20), ("Lamp", 41.00), ("Chair", 89.90),
            ("Mug", 7.75), ("Pencil set", 5.40), ("Backpack", 55.00), ("Clock", 19.99)]


def shop_script(rnd):
    """A customer browses and orders."""
    cust = rnd.randint(1, 20)
    prod = rnd.randint(1, len(PRODUCTS))
    return [
        "SELECT id, title, price FROM products WHERE stock > 0 ORDER BY price LIMIT 5",
        "SELECT c.name, COUNT(o.id) AS orders, SUM(o.quantity * p.price) AS spent\n"
        "FROM customers c\n"
        "  JOIN orders o ON o.customer_id = c.id\n"
        "  JOIN products p ON p.id = o.product_id\n"
        "WHERE c.id = %d\nGROUP BY c.name" % cust,
        "INSERT INTO orders (customer_id, product_id, quantity) VALUES (%d, %d, %d)"
        % (cust, prod, rnd.randint(1, 4)),
        "UPDATE products SET stock = stock - 1 WHERE id = %d AND stock > 0" % prod,
        "SELECT o.id, p.title, o.quantity, o.status FROM orders o "
        "JOIN products p ON p.id = o.product_id WHERE o.customer_id = %d "
        "ORDER BY o.id DESC LIMIT 10" % cust,
    ]


def report_script(rnd):
    """Reporting: aggregates, a slow statement and a typo."""
    return [
        "SHOW TABLES",
        "SELECT c.city, COUNT(DISTINCT c.id) AS customers, COUNT(o.id) AS orders "
        "FROM customers c LEFT JOIN orders o ON o.customer_id = c.id "
        "GROUP BY c.city ORDER BY orders DESC",
        "SELECT SLEEP(1.5)",
        "SELECT p.title, SUM(o.quantity) AS sold FROM orders o JOIN products p "
        "ON p.id = o.product_id GROUP BY p.title ORDER BY sold DESC LIMIT 3",
        "SELECT * FROM order_archive WHERE year = %d" % rnd.choice([2019, 2020, 2021]),
        "SELECT COUNT(*) FROM orders WHERE status = 'new'",
    ]


def maintenance_script(rnd):
    """Housekeeping: new customers, status changes, clean-up."""
    return [
        "INSERT INTO customers (name, city) VALUES ('%s', '%s')"
        % (rnd.choice(NAMES), rnd.choice(CITIES)),
        "UPDATE orders SET status = 'shipped' WHERE status = 'new' ORDER BY id LIMIT 3",
        "DELETE FROM orders WHERE status = 'shipped' AND ordered_at < NOW() - INTERVAL 10 MINUTE",
        "UPDATE products SET stock = stock + 5 WHERE stock < 3",
        "SELECT id, name, city FROM customers ORDER BY id DESC LIMIT 5",
        "SHOW PROCESSLIST",
    ]


SCRIPTS = [shop_script, report_script, maintenance_script]


def log(msg):
    sys.stdout.write(time.strftime("%H:%M:%S ") + msg + "\n")
    sys.stdout.flush()


def pause(seconds):
    if seconds > 0:
        stop_event.wait(seconds)


def connect(args):
    """Connects, retrying every two seconds until it works or we are told to stop."""
    warned = False
    while not stop_event.is_set():
        try:
            return pymysql.connect(host=args.host, port=args.port, user=args.user,
                                   password=args.password, database=args.database,
                                   autocommit=True, connect_timeout=5, charset="utf8mb4")
        except pymysql.err.MySQLError as exc:
            if not warned:
                log("waiting for %s:%d (%s)" % (args.host, args.port, exc))
                warned = True
            pause(2)
    return None


def ensure_schema(args):
    conn = connect(args)
    if conn is None:
        return False
    try:
        with conn.cursor() as cur:
            for stmt in SCHEMA:
                cur.execute(stmt)
            cur.execute("SELECT COUNT(*) FROM products")
            if cur.fetchone()[0] == 0:
                cur.executemany("INSERT INTO products (title, price, stock) VALUES (%s, %s, %s)",
                                [(t, p, 10) for t, p in PRODUCTS])
            cur.execute("SELECT COUNT(*) FROM customers")
            if cur.fetchone()[0] == 0:
                rnd = random.Random(7)
                cur.executemany("INSERT INTO customers (name, city) VALUES (%s, %s)",
                                [(rnd.choice(NAMES), rnd.choice(CITIES)) for _ in range(20)])
        return True
    finally:
        conn.close()


def worker(args, index, results):
    rnd = random.Random(index * 7919 + int(time.time()))
    script = SCRIPTS[index % len(SCRIPTS)]
    done = 0
    while not stop_event.is_set() and (args.rounds == 0 or done < args.rounds):
        conn = connect(args)
        if conn is None:
            break
        try:
            with conn.cursor() as cur:
                for stmt in script(rnd):
                    if stop_event.is_set():
                        break
                    try:
                        cur.execute(stmt)
                        cur.fetchall()
                        results["ok"] += 1
                    except pymysql.err.ProgrammingError as exc:
                        # The failing statement is part of the mix.
                        results["failed"] += 1
                        log("session %d: expected error: %s" % (index, exc.args[-1]))
                    pause(rnd.uniform(0.5, 2.5) * args.pace)
        except pymysql.err.OperationalError as exc:
            log("session %d: connection lost (%s), reconnecting" % (index, exc))
        finally:
            try:
                conn.close()
            except Exception:
                pass
        done += 1
        pause(rnd.uniform(1.0, 4.0) * args.pace)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=4040, help="the profiler port")
    ap.add_argument("--user", default="sandbox")
    ap.add_argument("--password", default=os.environ.get("SANDBOX_PASSWORD", ""))
    ap.add_argument("--database", default="shop")
    ap.add_argument("--sessions", type=int, default=3, help="client sessions running at once")
    ap.add_argument("--rounds", type=int, default=0,
                    help="scripts each session runs before the program ends (0: until stopped)")
    ap.add_argument("--pace", type=float, default=1.0, help="factor on every pause (0: no pauses)")
    args = ap.parse_args()

    def on_signal(signum, frame):
        stop_event.set()
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    if not ensure_schema(args):
        return 0
    log("schema ready on %s:%d, %d sessions" % (args.host, args.port, args.sessions))

    results = {"ok": 0, "failed": 0}
    threads = [threading.Thread(target=worker, args=(args, i, results), daemon=True)
               for i in range(max(1, args.sessions))]
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        for t in threads:
            t.join(0.2)
    log("done: %d statements, %d failed as intended" % (results["ok"], results["failed"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
