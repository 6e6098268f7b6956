"""Annotates a directory of notes with Spark, one row per hit, into Parquet.

Locally (the release and the notes on this machine):

    python examples/annotate_spark.py --hpo /data/hp.json NOTES_DIR OUT_DIR

On a cluster, with the corvanta wheel installed on every executor (or shipped
in a packed virtual environment through --archives), and the release on
shared storage or sent with the job:

    spark-submit --master yarn --files /data/hp.json \\
        examples/annotate_spark.py --hpo hp.json hdfs:///notes hdfs:///notes-hpo

A bare file name given to --hpo that does not exist on an executor is looked
up among the job's files (SparkFiles), where --files puts it. Each Python
worker builds one matcher from it on its first batch and keeps it.
"""
from __future__ import annotations

import argparse
import sys

from pyspark.sql import SparkSession, functions

from corvanta_tools.scale import annotate_spark


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("notes", help="directory of *.txt notes (any path Spark reads)")
    parser.add_argument("out_dir", help="where the Parquet files of hits go")
    parser.add_argument("--hpo", required=True,
                        help="HPO release file: a path every executor reads, or the file name "
                             "of one sent with --files")
    args = parser.parse_args()

    spark = SparkSession.builder.appName("corvanta").getOrCreate()
    notes = (spark.read.text(f"{args.notes}/*.txt", wholetext=True)
             .select(functions.input_file_name().alias("path"), functions.col("value").alias("text")))
    annotate_spark(notes, "text", args.hpo, id_column="path").write.mode("overwrite").parquet(args.out_dir)
    spark.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
