#!/usr/bin/python3
"""Clients that hold N connections to HOST:PORT open at once.

usage: many_clients.py HOST PORT USER PASSWORD N

Opens N connections one after the other, then runs "SELECT <100000 + i>" on
connection i from a thread of its own, all released together, checks each
answer, closes them all and prints "answered <count of right answers>".
"""
import sys
import threading

import pymysql

host, port, user, password, n = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])
conns = [pymysql.connect(host=host, port=port, user=user, password=password, autocommit=True,
                         connect_timeout=60, read_timeout=120) for _ in range(n)]
answers = [None] * n
together = threading.Barrier(n)


def ask(i):
    together.wait()
    with conns[i].cursor() as cur:
        cur.execute("SELECT %d" % (100000 + i))
        answers[i] = cur.fetchone()[0]


threads = [threading.Thread(target=ask, args=(i,)) for i in range(n)]
for t in threads:
    t.start()
for t in threads:
    t.join()
for c in conns:
    c.close()
print("answered", sum(1 for i, a in enumerate(answers) if a == 100000 + i))
